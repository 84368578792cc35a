#include "gui/hc_read_flow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "gui/display_text.h"
#include "gui/form_controls.h"
#include "gui/rules/activity_lamp.h"
#include "gui/rules/read_settings.h"
#include "gui/rules/report_files.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"

namespace calvix {

namespace text {
inline constexpr std::string_view kReadQuestion =
    W1251("Произвести чтение архива из тепловычислителя?");
inline constexpr std::string_view kReadDayArchives = W1251("Читать часовые архивы");
inline constexpr std::string_view kReadOnlyPeriod = W1251("Читать только за отчетный период");
inline constexpr std::string_view kReadStatusStart =
    W1251("Считываются данные из тепловычислителя");
inline constexpr std::string_view kReadTimeInitial = W1251("Общее время считывания: 0 c");
inline constexpr std::string_view kReadTimeZero = W1251("Общее время считывания: 0 мин 0 сек");
inline constexpr std::string_view kReadStartFailed =
    W1251("Ошибка при чтении архивов из тепловычислителя.");
inline constexpr std::string_view kReadNoDataFile = W1251("Файл данных hc\\dat1hc не найден");
inline constexpr std::string_view kReadDataFile = "hc\\dat1hc";
}  // namespace text

// The archive window's activity lamp: green while exchanges go well, red after a failed one;
// shown on a change, blinking while the state stays the same.
class ActivityLamp : public LampWidget {
  public:
    explicit ActivityLamp(QWidget* parent) : LampWidget(parent, "ShapeReadArchive") {}

    void Reset() {
        state_.Reset();
        hide();
    }

    void Exchange(bool ok) {
        const ActivityLampState::Look look = state_.Update(ok, ActivityLampState::Clock::now());
        Paint(look.green ? LampGreen() : LampRed());
        setVisible(look.visible);
    }

  private:
    ActivityLampState state_;
};

namespace {

// Loaded once, when the window is made; a program without the library still runs and only the
// modem road fails. Outlives every reading: the workers are joined before static destruction.
reading::ModemLibrary& ModemLibraryOnce() {
    static const std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex();
    return *library;
}

std::atomic<reading::ModemLibrary*> gModemLibraryInstead{nullptr};

QCheckBox* AddCheckBox(QWidget* parent, const char* name, std::string_view caption, int top) {
    auto* box = new QCheckBox(ToQt(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(80, top, 340, 22);
    return box;
}

}  // namespace

void THCReadFlow::UseModemLibrary(reading::ModemLibrary* library) {
    gModemLibraryInstead = library;
}

reading::ModemLibrary* THCReadFlow::ModemLibraryInUse() {
    reading::ModemLibrary* instead = gModemLibraryInstead;
    return instead != nullptr ? instead : &ModemLibraryOnce();
}

THCReadFlow::THCReadFlow(TMainForm& form) : form_(form) {
    ModemLibraryOnce();
    btSeveralDaysR_ = form_.findChild<QPushButton*>(QStringLiteral("btSeveralDaysR"));
    btCalendarR_ = form_.findChild<QPushButton*>(QStringLiteral("btCalendarR"));
    if (auto* read = form_.findChild<QPushButton*>(QStringLiteral("btHCRead"))) {
        read->setEnabled(true);
        connect(read, &QPushButton::clicked, this, [this] { btHCReadClick(); });
    }
    BuildQuestion();
    BuildWait();
}

THCReadFlow::~THCReadFlow() {
    // The window's main-thread caller is shut down by now, so the worker's calls return at once.
    worker_.Cancel();
    worker_.Join();
}

void THCReadFlow::BuildQuestion() {
    QWidget* pan = form_.PanelWidget(Panel::HCQuestion);
    AddCenteredLabel(pan, "lbHCQuestion", text::kReadQuestion, 20, 56, 420);
    cbHCDayRead_ = AddCheckBox(pan, "cbHCDayRead", text::kReadDayArchives, 100);
    cbHCReadOnlyOtPeriod_ = AddCheckBox(pan, "cbHCReadOnlyOtPeriod", text::kReadOnlyPeriod, 128);
    connect(cbHCReadOnlyOtPeriod_, &QCheckBox::toggled, this,
            [this] { cbHCReadOnlyOtPeriodClick(); });
    connect(AddButton(pan, "btHCQuestionYes", text::kYes, 20, 200, 125), &QPushButton::clicked,
            this, [this] { btHCQuestionYesClick(); });
    connect(AddButton(pan, "btHCQuestionNo", text::kNo, 167, 200, 125), &QPushButton::clicked, this,
            [this] { btHCQuestionNoClick(); });
    connect(AddButton(pan, "btHCQuestionBack", text::kBack, 314, 200, 125), &QPushButton::clicked,
            this, [this] { btHCQuestionBackClick(); });
}

void THCReadFlow::BuildWait() {
    QWidget* pan = form_.PanelWidget(Panel::HCWait);
    lbWaitReadHC_ = AddCenteredLabel(pan, "lbWaitReadHC", text::kReadStatusStart, 30, 54, 400);
    lbWaitReadHCTime_ =
        AddCenteredLabel(pan, "lbWaitReadHCTime", text::kReadTimeInitial, 30, 80, 400);
    pbHC1_ = new QProgressBar(pan);
    pbHC1_->setObjectName(QStringLiteral("pbHC1"));
    pbHC1_->setGeometry(30, 114, 372, 22);
    pbHC1_->setRange(0, 150);
    pbHC1_->setValue(0);
    pbHC1_->setTextVisible(false);
    lamp_ = new ActivityLamp(pan);
    lamp_->setGeometry(414, 117, 16, 16);
    connect(AddButton(pan, "btCancelReadHC", text::kAbort, 170, 164, 120), &QPushButton::clicked,
            this, [this] { btCancelReadHCClick(); });
}

void THCReadFlow::btHCReadClick() {
    if (!form_.TakeHCAddress()) {
        return;
    }
    form_.HidePanel(Panel::HCWork);
    form_.ShowPanel(Panel::HCQuestion);
}

void THCReadFlow::cbHCReadOnlyOtPeriodClick() {
    cbHCDayRead_->setEnabled(!cbHCReadOnlyOtPeriod_->isChecked());
}

void THCReadFlow::TakeReadOptions() {
    onlyPeriod_ = cbHCReadOnlyOtPeriod_->isChecked();
    readHourly_ = cbHCDayRead_->isChecked() && !onlyPeriod_;
    if (btSeveralDaysR_ != nullptr) {
        btSeveralDaysR_->setEnabled(!onlyPeriod_);
    }
    if (btCalendarR_ != nullptr) {
        btCalendarR_->setEnabled(readHourly_);
    }
}

void THCReadFlow::btHCQuestionYesClick() {
    if (reading_) {
        return;
    }
    cancelRequested_ = false;
    pbHC1_->setValue(0);
    lbWaitReadHC_->setText(ToQt(text::kReadStatusStart));
    lbWaitReadHCTime_->setText(ToQt(text::kReadTimeZero));
    lamp_->Reset();
    form_.HidePanel(Panel::HCQuestion);
    form_.ShowPanel(Panel::HCWait);
    form_.PanelWidget(Panel::HCWait)->repaint();
    TakeReadOptions();
    if (!StartReading()) {
        form_.HidePanel(Panel::HCWait);
        form_.ShowErrorPanel(text::kReadStartFailed, form_.PanelWidget(Panel::HCWork));
    }
}

bool THCReadFlow::StartReading() {
    try {
        Configuration& config = *form_.Config();
        reading::ReadSettings settings = MakeReadSettings(config, readHourly_, onlyPeriod_);

        reading::ReadCallbacks callbacks;
        callbacks.runOnMainThread = form_.MainThread();
        callbacks.progress = [this](const reading::ReadProgress& p) { return ShowProgress(p); };
        callbacks.chooseParameterList = [this](char v) { return ChooseParameterList(v); };
        callbacks.exchangeActivity = [this](bool ok) { ExchangeActivity(ok); };
        callbacks.finished = [this](bool succeeded, const std::string& errorText) {
            ReadingEnded(succeeded, errorText);
        };

        reading::ReadEnvironment environment;
        environment.workFolder = form_.StartFolder();
        reading::ModemLibrary* instead = gModemLibraryInstead;
        environment.modem = instead != nullptr ? instead : &ModemLibraryOnce();
        stopEvent_ = std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
        environment.stopEvent = stopEvent_;
        worker_ = reading::CThreadReadHCArchive::Start(std::move(settings), std::move(callbacks),
                                                       std::move(environment));
    } catch (const std::exception&) {
        return false;
    }
    reading_ = true;
    return true;
}

bool THCReadFlow::ShowProgress(const reading::ReadProgress& progress) {
    if (!progress.statusText.empty()) {
        lbWaitReadHC_->setText(ToQt(progress.statusText));
    }
    lbWaitReadHCTime_->setText(ToQt(progress.timeText));
    // The maximum first: a position above the old maximum would be refused.
    if (progress.maximum > 0) {
        pbHC1_->setMaximum(progress.maximum);
    }
    pbHC1_->setValue(progress.position);
    return cancelRequested_;
}

std::string THCReadFlow::ChooseParameterList(char version) {
    Configuration& config = *form_.Config();
    config.LoadTemplateSettings(static_cast<unsigned char>(version));
    const TemplateSettings& templates = config.Templates();
    return onlyPeriod_ ? templates.configFilePeriod : templates.configFile;
}

void THCReadFlow::ReadingEnded(bool succeeded, const std::string& errorText) {
    reading_ = false;
    form_.HidePanel(Panel::HCWait);
    if (succeeded) {
        form_.DataTaken(text::kReadDataFile);
    } else {
        form_.ShowErrorPanel(errorText, form_.PanelWidget(Panel::HCWork));
    }
}

void THCReadFlow::ExchangeActivity(bool ok) {
    lastExchangeOk_ = ok;
    if (lampUpdatePosted_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            lampUpdatePosted_ = false;
            lamp_->Exchange(lastExchangeOk_);
        },
        Qt::QueuedConnection);
}

void THCReadFlow::btHCQuestionNoClick() {
    form_.HidePanel(Panel::HCQuestion);
    std::error_code ec;
    if (std::filesystem::is_regular_file(ProgramPath(text::kReadDataFile, form_.StartFolder()),
                                         ec)) {
        TakeReadOptions();
        form_.DataTaken(text::kReadDataFile);
        return;
    }
    form_.ShowErrorPanel(text::kReadNoDataFile, form_.PanelWidget(Panel::HCWork));
}

void THCReadFlow::btHCQuestionBackClick() {
    form_.HidePanel(Panel::HCQuestion);
    form_.ShowPanel(Panel::HCWork);
}

void THCReadFlow::btCancelReadHCClick() {
    cancelRequested_ = true;
    // A dial or a device that does not answer ends now, not at the next progress call.
    if (stopEvent_) {
        stopEvent_->Set();
    }
}

}  // namespace calvix
