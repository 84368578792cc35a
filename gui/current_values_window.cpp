#include "gui/current_values_window.h"

#include <QColor>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTime>
#include <exception>
#include <utility>

#include "gui/current_values_sheet.h"
#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/display_text.h"
#include "gui/form_controls.h"
#include "gui/hc_read_flow.h"
#include "gui/rules/read_settings.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"
#include "reading/current_values_worker.h"

namespace calvix {

namespace text {
// Not inline: each workflow keeps its texts to itself.
constexpr std::string_view kRowNames[] = {W1251("Расход"), W1251("Тепло"), W1251("Температура"),
                                          W1251("Давление"), W1251("Код ошибки")};
constexpr std::string_view kPipelineNames[] = {W1251("Трубопровод 1"), W1251("Трубопровод 2"),
                                               W1251("Трубопровод 3"), W1251("Трубопровод 4")};
constexpr std::string_view kCurrentThreadError = W1251("Ошибка при создании потока");
constexpr std::string_view kSheetPdfCaption = W1251("Печать в файл PDF");
constexpr std::string_view kSheetPdfFilter = "PDF (*.pdf)";
}  // namespace text

namespace {

constexpr int kPipelines = 4;
constexpr int kKinds = 4;  // flow, heat power, temperature, pressure
constexpr int kColumnLeft = 108;
constexpr int kColumnStep = 118;
constexpr int kRowTop = 70;
constexpr int kRowStep = 32;
constexpr int kFieldWidth = 116;
constexpr int kFieldHeight = 24;

}  // namespace

TCurrentValuesWindow::TCurrentValuesWindow(TMainForm& form) : form_(form) {
    edHCNumber_ = form_.findChild<QLineEdit*>(QStringLiteral("edHCNumber"));
    Build();
    if (auto* current = form_.findChild<QPushButton*>(QStringLiteral("btHCCurrent"))) {
        current->setEnabled(true);
        connect(current, &QPushButton::clicked, this, [this] { btHCCurrentClick(); });
    }
}

TCurrentValuesWindow::~TCurrentValuesWindow() {
    // The window's main-thread caller is shut down by now, so the worker's calls return at once.
    worker_.Cancel();
    worker_.Join();
}

void TCurrentValuesWindow::Build() {
    QWidget* pan = form_.PanelWidget(Panel::HCCurrent);
    BuildFields(pan);
    // Fixed sizes: the texts change while the window is shown.
    lbHCCurrentNum_ = AddLabel(pan, "lbHCCurrentNum", "", 20, 244);
    lbHCCurrentNum_->setGeometry(20, 244, 560, 20);
    lbHCCurrentAddr_ = AddLabel(pan, "lbHCCurrentAddr", "", 20, 268);
    lbHCCurrentAddr_->setGeometry(20, 268, 560, 20);
    // Two lines: some connection messages have a second one.
    lbHCCurrentConnStatus_ = AddLabel(pan, "lbHCCurrentConnStatus", "", 20, 300);
    lbHCCurrentConnStatus_->setGeometry(20, 300, 530, 40);
    lbHCCurrentConnStatus_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lamp_ = new LampWidget(pan, "shapeReadCurrents");
    lamp_->setGeometry(560, 312, 16, 16);
    btHCCurrentStart_ = AddButton(pan, "btHCCurrentStart", text::kStart, 20, 350, 170);
    connect(btHCCurrentStart_, &QPushButton::clicked, this, [this] { btHCCurrentStartClick(); });
    connect(AddButton(pan, "btHCCurrentPrint", text::kPrintText, 215, 350, 170),
            &QPushButton::clicked, this, [this] { btHCCurrentPrintClick(); });
    connect(AddButton(pan, "btHCCurBack", text::kBack, 410, 350, 170), &QPushButton::clicked, this,
            [this] { btHCCurBackClick(); });
}

void TCurrentValuesWindow::BuildFields(QWidget* pan) {
    for (int row = 0; row <= kKinds; ++row) {
        AddLabel(pan, nullptr, text::kRowNames[row], 20, kRowTop + row * kRowStep + 3);
    }
    for (int pipe = 0; pipe < kPipelines; ++pipe) {
        AddCenteredLabel(pan, nullptr, text::kPipelineNames[pipe], kColumnLeft + pipe * kColumnStep,
                         kRowTop - 24, kFieldWidth);
    }
    for (std::size_t i = 0; i < kCurrentFieldCount; ++i) {
        // edHCCur1..16: pipeline by pipeline, each its four kinds; 17..20: the error codes.
        const int pipe = i < 16 ? static_cast<int>(i) / kKinds : static_cast<int>(i) - 16;
        const int row = i < 16 ? static_cast<int>(i) % kKinds : kKinds;
        auto* field = new QLineEdit(pan);
        field->setObjectName(QStringLiteral("edHCCur%1").arg(i + 1));
        field->setReadOnly(true);
        field->setGeometry(kColumnLeft + pipe * kColumnStep, kRowTop + row * kRowStep, kFieldWidth,
                           kFieldHeight);
        fields_[i] = field;
    }
    PaintFields(true);
}

void TCurrentValuesWindow::btHCCurrentClick() {
    if (!form_.TakeHCAddress()) {
        if (edHCNumber_ != nullptr) {
            edHCNumber_->setText(QStringLiteral("3"));
        }
        return;
    }
    form_.HidePanel(Panel::HCWork);
    form_.ShowPanel(Panel::HCCurrent);
    btHCCurrentStartClick();
}

void TCurrentValuesWindow::btHCCurrentStartClick() {
    if (busy_) {
        return;
    }
    btHCCurrentStart_->setEnabled(false);
    lampState_.Reset();
    lamp_->hide();
    for (QLineEdit* field : fields_) {
        field->clear();
    }
    for (QLabel* label : {lbHCCurrentNum_, lbHCCurrentAddr_, lbHCCurrentConnStatus_}) {
        label->clear();
    }
    PaintFields(true);
    stopRequested_ = false;
    if (!StartReading()) {
        // "Старт" again once the operator is back: this reading never began.
        btHCCurrentStart_->setEnabled(true);
        form_.HidePanel(Panel::HCCurrent);
        form_.ShowHCErrorCaption(text::kCurrentThreadError, HCErrorReturn::HCCurrent);
    }
}

bool TCurrentValuesWindow::StartReading() {
    try {
        Configuration& config = *form_.Config();
        reading::CurrentValuesSettings settings;
        FillDeviceLinkSettings(config, settings);
        settings.deviceType = config.Connection().deviceType;
        settings.gigajoules = gigajoules_;
        settings.reloadDisplayMode = [this](int version) {
            form_.Config()->LoadTemplateSettings(version);
            return static_cast<int>(form_.Config()->Templates().currentValuesView);
        };

        reading::CurrentValuesCallbacks callbacks;
        callbacks.runOnMainThread = form_.MainThread();
        callbacks.status = [this](const std::string& t) {
            lbHCCurrentConnStatus_->setText(ToQt(t));
        };
        callbacks.elapsed = [this](std::chrono::seconds elapsed) {
            lbHCCurrentConnStatus_->setText(ToQt(ElapsedTimeText(elapsed)));
        };
        callbacks.factoryNumber = [this](std::span<const std::uint8_t> answer) {
            lbHCCurrentNum_->setText(ToQt(FactoryNumberText(answer)));
        };
        callbacks.address = [this](const std::string& t) { lbHCCurrentAddr_->setText(ToQt(t)); };
        callbacks.values = [this](std::span<const std::uint8_t> answer,
                                  const reading::CurrentValuesFormat& format) {
            ShowValues(answer, format);
        };
        callbacks.fieldColour = [this](bool white) { PaintFields(white); };
        callbacks.exchange = [this](bool ok) { Exchange(ok); };
        callbacks.finished = [this](const std::string& message, bool /*stopped*/) {
            ReadingEnded(message);
        };

        reading::CurrentValuesEnvironment environment;
        environment.modem = THCReadFlow::ModemLibraryInUse();
        stopEvent_ = std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
        environment.stopEvent = stopEvent_;
        busy_ = true;
        worker_ = reading::CThreadReadCurrentValues::Start(
            std::move(settings), std::move(callbacks), std::move(environment));
    } catch (const std::exception&) {
        busy_ = false;
        return false;
    }
    return true;
}

void TCurrentValuesWindow::ShowValues(std::span<const std::uint8_t> answer,
                                      const reading::CurrentValuesFormat& f) {
    gigajoules_ = f.gigajoules;
    CurrentValuesFormat format;
    format.version = f.version;
    format.wiLayout = f.wiLayout;
    format.gigajoules = f.gigajoules;
    const CurrentFieldTexts texts = DecodeCurrentValues(answer, format);
    for (std::size_t i = 0; i < kCurrentFieldCount; ++i) {
        fields_[i]->setText(ToQt(texts[i]));
    }
}

void TCurrentValuesWindow::PaintFields(bool white) {
    for (QLineEdit* field : fields_) {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, white ? QColor(Qt::white) : LampYellow());
        field->setPalette(palette);
    }
}

void TCurrentValuesWindow::Exchange(bool ok) {
    const ActivityLampState::Look look = lampState_.Update(ok, ActivityLampState::Clock::now());
    lamp_->setVisible(look.visible);
    const QColor colour = look.green ? LampGreen() : LampRed();
    lamp_->Paint(colour);
    if (auto* archiveLamp = form_.findChild<LampWidget*>(QStringLiteral("ShapeReadArchive"))) {
        archiveLamp->Paint(colour);
    }
    PaintFields(ok);
}

void TCurrentValuesWindow::ReadingEnded(const std::string& message) {
    lbHCCurrentConnStatus_->setText(ToQt(message));
    btHCCurrentStart_->setEnabled(true);
    lamp_->Paint(LampYellow());
    lamp_->show();
    if (stopRequested_) {
        form_.HidePanel(Panel::HCCurrent);
        form_.ShowPanel(Panel::HCWork);
    }
    busy_ = false;
}

void TCurrentValuesWindow::btHCCurrentPrintClick() {
    TSelectPrinterBox* box = form_.SelectPrinterBox();
    if (QPrinterInfo::availablePrinterNames().isEmpty() && !box->PdfChosen()) {
        form_.HidePanel(Panel::HCCurrent);
        form_.ShowErrorPanel(text::kPrintersNotFound, form_.PanelWidget(Panel::HCCurrent));
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    if (box->PdfChosen()) {
        const std::string file =
            DialogService::AskSaveFileName(&form_, text::kSheetPdfCaption, text::kSheetPdfFilter);
        if (file.empty()) {
            return;
        }
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(file));
    } else if (!box->CurrentPrinter().isEmpty()) {
        printer.setPrinterName(box->CurrentPrinter());
    }
    CurrentFieldTexts fields;
    for (std::size_t i = 0; i < kCurrentFieldCount; ++i) {
        fields[i] = From1251Widget(fields_[i]->text());
    }
    const std::vector<SheetLine> lines = CurrentValuesSheet(
        QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")).toStdString(),
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString(),
        From1251Widget(lbHCCurrentNum_->text()), From1251Widget(lbHCCurrentAddr_->text()), fields);
    PrintCurrentValuesSheet(printer, lines, box->FontSize(), box->Orientation());
}

void TCurrentValuesWindow::btHCCurBackClick() {
    stopRequested_ = true;
    if (stopEvent_) {
        stopEvent_->Set();
    }
    if (!busy_) {
        form_.HidePanel(Panel::HCCurrent);
        form_.ShowPanel(Panel::HCWork);
    }
}

}  // namespace calvix
