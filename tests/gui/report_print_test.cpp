// "Распечатать" of the text window through the real main window, printing into PDF files read
// back with poppler's pdfinfo and pdftotext; and the rules of the printer choice box.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>

#include "gui/dialogs.h"
#include "platform/cp1251_literal.h"
#include "tests/gui/gui_fixture.h"

namespace calvix::testing_gui {
namespace {

// A report with a table of `rows` data rows.
std::string Report(int rows) {
    std::string text = "Ведомость учета\n+------+------+\n| День | Q    |\n+------+------+\n";
    for (int r = 1; r <= rows; ++r) {
        std::string day = std::to_string(r);
        day.insert(0, 4 - day.size(), ' ');
        text += "|" + day + "  | 1.5  |\n";
    }
    return text + "+------+------+\n";
}

QString RunTool(const char* program, const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromLatin1(program), arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << program << " failed";
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

class ReportPrintTest : public GuiTest {
  protected:
    // The main window showing a created report (or none) in panText; `ini` is calvix.ini.
    TMainForm& ShowReport(const std::string& report, const char* ini = "") {
        WriteFile(Folder() / "calvix.ini", ini);
        TMainForm& form = Start();
        form.SetWorkState(WorkState::stHCReports);
        form.PanReportMode();
        form.HidePanel(Panel::SelectMode);
        // The report is written in 1251 already: the builder's correction has nothing to do.
        form.Hooks().correctReport = [](std::vector<std::string>&) {};
        if (report.empty()) {
            form.SetCreatedReports({}, {});
            form.ShowPanel(Panel::Text);
            return form;
        }
        WriteFile(Folder() / "hc" / "txt" / "r0.txt", report);
        form.SetCreatedReports({"hc\\txt\\r0.txt"}, {platform::Utf8ToCp1251("Отчет")});
        form.ReportList()->setCurrentRow(0);
        form.OpenReport("hc\\txt\\r0.txt");
        return form;
    }
    QListWidget* BoxList() {
        return form_->SelectPrinterBox()->findChild<QListWidget*>(
            QStringLiteral("listAllPrinters"));
    }
    QComboBox* BoxCombo(const char* name) {
        return form_->SelectPrinterBox()->findChild<QComboBox*>(QString::fromLatin1(name));
    }
    // Opens the printer box as Ctrl+B does, lets `choose` work on it and presses "Дальше".
    void ChooseInBox(const std::function<void()>& choose) {
        TSelectPrinterBox* box = form_->SelectPrinterBox();
        box->show();
        choose();
        box->findChild<QAbstractButton*>(QStringLiteral("btStartSP"))->click();
        ASSERT_TRUE(box->isHidden());
    }
    void ChoosePdf() {
        ChooseInBox([this] { BoxList()->setCurrentRow(BoxList()->count() - 1); });
    }
    void SetCombo(const char* name, const char* utf8) {
        QComboBox* combo = BoxCombo(name);
        combo->setCurrentText(Q(utf8));
        emit combo->lineEdit()->editingFinished();
    }
    void ExpectResult(const char* message) {
        ExpectOnly("panHCError");
        EXPECT_EQ(ErrorText(), message);
        Click("btHCError");
        ExpectOnly("panText");
    }
    QString Pdf() const { return QString::fromStdString((Folder() / "out.pdf").string()); }
    int Pages() {
        const auto match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                               .match(RunTool("pdfinfo", {Pdf()}));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
    bool Landscape() {
        const auto match = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)"))
                               .match(RunTool("pdfinfo", {Pdf()}));
        EXPECT_TRUE(match.hasMatch());
        return match.captured(1).toDouble() > match.captured(2).toDouble();
    }
    QString PageText(int page) {
        const QString n = QString::number(page);
        return RunTool("pdftotext", {QStringLiteral("-layout"), QStringLiteral("-f"), n,
                                     QStringLiteral("-l"), n, Pdf(), QStringLiteral("-")});
    }
};

TEST_F(ReportPrintTest, PrintsTheShownReportIntoAPdfWithTheBoxsSizeAndOrientation) {
    ShowReport(
        Report(13),
        "[Принтер]\r\nмаксимальное количество строк с данными в таблице на одном листе=10\r\n");
    ChooseInBox([this] {
        BoxList()->setCurrentRow(BoxList()->count() - 1);
        EXPECT_EQ(BoxList()->currentItem()->text(), Q("Печать в файл PDF"));
        SetCombo("cbListOrient", "горизонтально");
    });
    EXPECT_TRUE(form_->SelectPrinterBox()->PdfChosen());
    EXPECT_EQ(form_->SelectPrinterBox()->Orientation(), 2);
    DialogService::SetNextFileName(Pdf().toStdString());
    const fs::path elsewhere = Folder() / "hc";
    fs::current_path(elsewhere);
    Click("btPrintText");
    EXPECT_EQ(fs::current_path(), Folder()) << "the start folder is current again";
    ExpectOnly("panText");
    ASSERT_EQ(Pages(), 2);
    EXPECT_TRUE(Landscape());
    const QString first = PageText(1);
    const QString second = PageText(2);
    EXPECT_TRUE(first.contains(Q("Ведомость учета , Лист 1"))) << first.toStdString();
    EXPECT_TRUE(second.contains(Q("Ведомость учета , Лист 2"))) << second.toStdString();
    EXPECT_TRUE(second.contains(Q("День"))) << "the head is repeated";
    EXPECT_TRUE(first.contains(QStringLiteral(" 10 ")) && !first.contains(QStringLiteral(" 11 ")));
    EXPECT_TRUE(second.contains(QStringLiteral(" 13 ")));
}

TEST_F(ReportPrintTest, WithoutAPrinterAndWithoutThePdfEntryNothingIsPrinted) {
    if (!QPrinterInfo::availablePrinterNames().isEmpty()) {
        GTEST_SKIP() << "this machine has printers";
    }
    ShowReport(Report(2));
    Click("btPrintText");
    ExpectResult("Не найдены принтеры, установленные на компьютере.");
}

TEST_F(ReportPrintTest, AnEmptyReportListHasNothingToPrint) {
    ShowReport("");
    ChoosePdf();
    Click("btPrintText");
    ExpectResult("Нет отчета для распечатывания.");
    EXPECT_FALSE(fs::exists(Pdf().toStdString()));
}

TEST_F(ReportPrintTest, TheCancelledPrinterDialogPrintsNothing) {
    ShowReport(Report(2), "[Принтер]\r\nпоказывать диалог выбора принтера=да\r\n");
    ChoosePdf();
    DialogService::TakeShown();
    DialogService::SetNextFileName(Pdf().toStdString());
    DialogService::SetNextAnswer(ModalResult::mrCancel);
    fs::current_path(Folder() / "hc");
    Click("btPrintText");
    EXPECT_EQ(fs::current_path(), Folder());
    const auto shown = DialogService::TakeShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].what, "PrintDialog1");
    ExpectOnly("panText");
    EXPECT_FALSE(fs::exists(Pdf().toStdString()));
}

TEST_F(ReportPrintTest, TheAcceptedPrinterDialogPrints) {
    ShowReport(Report(2), "[Принтер]\r\nпоказывать диалог выбора принтера=да\r\n");
    ChoosePdf();
    DialogService::SetNextFileName(Pdf().toStdString());
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Click("btPrintText");
    ExpectOnly("panText");
    EXPECT_EQ(Pages(), 1);
}

TEST_F(ReportPrintTest, TheCancelledFileDialogPrintsNothing) {
    ShowReport(Report(2));
    ChoosePdf();
    DialogService::SetNextFileName("");
    Click("btPrintText");
    ExpectOnly("panText");
    EXPECT_FALSE(fs::exists(Pdf().toStdString()));
}

TEST_F(ReportPrintTest, APdfThatCannotBeWrittenIsAPrintingFailure) {
    ShowReport(Report(2));
    ChoosePdf();
    DialogService::SetNextFileName((Folder() / "missing" / "out.pdf").string());
    Click("btPrintText");
    ExpectResult("Ошибка при распечатке архива.");
}

TEST_F(ReportPrintTest, TheBoxKeepsValidSizesAndOrientationsOnly) {
    Start();
    TSelectPrinterBox* box = form_->SelectPrinterBox();
    EXPECT_EQ(box->FontSize(), 10);
    EXPECT_EQ(box->Orientation(), 1);
    box->show();
    struct Case {
        const char* typed;
        int kept;
        const char* shown;
    };
    for (const Case& c :
         {Case{"14", 14, "14"}, Case{"20", 14, "14"}, Case{"abc", 14, "14"}, Case{" 6 ", 6, "6"}}) {
        SetCombo("cbFontSize", c.typed);
        EXPECT_EQ(box->FontSize(), c.kept) << c.typed;
        EXPECT_EQ(BoxCombo("cbFontSize")->currentText(), Q(c.shown)) << c.typed;
    }
    for (const Case& c :
         {Case{"горизонтально", 2, "горизонтально"}, Case{"косо", 2, "горизонтально"},
          Case{"вертикально", 1, "вертикально"}}) {
        SetCombo("cbListOrient", c.typed);
        EXPECT_EQ(box->Orientation(), c.kept) << c.typed;
        EXPECT_EQ(BoxCombo("cbListOrient")->currentText(), Q(c.shown)) << c.typed;
    }
    box->End(ModalResult::mrOk);
    // Shown again, the box keeps what was chosen.
    SetCombo("cbFontSize", "8");
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(box->FontSize(), 8);
    EXPECT_EQ(BoxCombo("cbFontSize")->currentText(), QStringLiteral("8"));
}

TEST_F(ReportPrintTest, ThePdfEntryFollowsThePrintersAndStaysChosen) {
    ShowReport(Report(2));
    ChoosePdf();
    const int printers = static_cast<int>(QPrinterInfo::availablePrinterNames().size());
    DialogService::SetNextAnswer(ModalResult::mrOk);
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(BoxList()->count(), printers + 1);
    EXPECT_EQ(BoxList()->currentRow(), printers);
    EXPECT_TRUE(form_->SelectPrinterBox()->PdfChosen());
}

}  // namespace
}  // namespace calvix::testing_gui
