#include "gui/report_print.h"

#include <QListWidget>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTextEdit>
#include <exception>
#include <filesystem>
#include <system_error>

#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/display_text.h"
#include "gui/report_printer.h"
#include "gui/rules/print_layout.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace text {

inline constexpr std::string_view kNoReportToPrint = W1251("Нет отчета для распечатывания.");
inline constexpr std::string_view kPrintFailed = W1251("Ошибка при распечатке архива.");
inline constexpr std::string_view kPdfFileCaption = W1251("Печать в файл PDF");
inline constexpr std::string_view kPdfFilter = "PDF (*.pdf)";

}  // namespace text

TReportPrint::TReportPrint(TMainForm& form) : form_(form) {
    auto* button = form_.findChild<QPushButton*>(QStringLiteral("btPrintText"));
    button->setEnabled(true);
    connect(button, &QPushButton::clicked, this, [this] { btPrintTextClick(); });
}

void TReportPrint::Result(std::string_view message) {
    form_.HidePanel(Panel::Text);
    form_.ShowErrorPanel(message, form_.PanelWidget(Panel::Text));
}

void TReportPrint::BackToStartFolder() {
    std::error_code ignored;
    if (!form_.StartFolder().empty()) {
        std::filesystem::current_path(form_.StartFolder(), ignored);
    }
}

std::vector<std::string> TReportPrint::ShownLines() const {
    const QString shown = form_.Memo()->toPlainText();
    const std::vector<std::string>& lines = form_.ReportLines();
    std::string joined;
    for (const std::string& line : lines) {
        joined += line;
        joined += '\n';
    }
    if (!joined.empty()) {
        joined.pop_back();
    }
    if (ToQt(joined) == shown) {
        return lines;
    }
    // A message in place of the report: the report lines may be another report's.
    std::vector<std::string> out;
    for (const QString& line : shown.split(QLatin1Char('\n'))) {
        out.push_back(From1251Widget(line));
    }
    return out;
}

void TReportPrint::btPrintTextClick() {
    TSelectPrinterBox* box = form_.SelectPrinterBox();
    const bool printersFound = !QPrinterInfo::availablePrinterNames().isEmpty();
    if (!printersFound && !box->PdfChosen()) {
        Result(text::kPrintersNotFound);
        return;
    }
    if (form_.ReportList()->count() == 0) {
        Result(text::kNoReportToPrint);
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    if (box->PdfChosen()) {
        const std::string file =
            DialogService::AskSaveFileName(&form_, text::kPdfFileCaption, text::kPdfFilter);
        if (file.empty()) {
            BackToStartFolder();
            return;
        }
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(file));
    } else if (!box->CurrentPrinter().isEmpty()) {
        printer.setPrinterName(box->CurrentPrinter());
    }
    if (form_.Config()->Printer().showPrinterDialog) {
        QPrintDialog dialog(&printer, &form_);
        dialog.setObjectName(QStringLiteral("PrintDialog1"));
        if (DialogService::ShowModal(&dialog) != ModalResult::mrOk) {
            BackToStartFolder();
            return;
        }
    }
    PrintOutcome outcome;
    try {
        const PrintJob job = LayoutPrintJob(ShownLines(), form_.Config()->Printer());
        outcome = PrintReport(printer, job, box->FontSize(), box->Orientation());
    } catch (const std::exception&) {
        outcome.ok = false;
    }
    BackToStartFolder();
    if (!outcome.ok) {
        Result(text::kPrintFailed);
    }
}

}  // namespace calvix
