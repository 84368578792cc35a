#include "gui/report_creation.h"

#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "gui/dialog_service.h"
#include "gui/display_text.h"
#include "gui/form_controls.h"
#include "gui/rules/configuration.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/report_files.h"
#include "gui/rules/texts.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"
#include "workers/uthreadextproc.h"

namespace calvix {
namespace text {
namespace {

constexpr std::string_view kNoDateChosen = W1251("Вы не выбрали ни одной даты");
constexpr std::string_view kTouchNotFound = W1251("Программа touch.exe не найдена");
constexpr std::string_view kNoSeveralDayReport = W1251("Вы не выбрали ни одного отчета.");
constexpr std::string_view kWrongDates = W1251("Неверно выбраны даты.");
constexpr std::string_view kNoDataDat = W1251("Отсутствует файл данных dat");
constexpr std::string_view kNoDataDeep = W1251("Отсутствует файл данных hc\\dat2hc");
constexpr std::string_view kNoDataHC = W1251("Отсутствует файл данных hc\\dat1hc");
constexpr std::string_view kDataFileUnknown = W1251("Ошибка при определении файла данных");
constexpr std::string_view kNoDeepBuilder = W1251("Отсутствует файл hc\\touch180.exe");
constexpr std::string_view kNoTouch = W1251("Отсутствует файл touch.exe");
constexpr std::string_view kNoneCreated = W1251("Не удалось создать ни одного отчета");
constexpr std::string_view kTemplateMissing = W1251("Не найден файл шаблона: ");
constexpr std::string_view kTemplateNotWritten = W1251("Не удалось записать файл шаблона: ");

}  // namespace
}  // namespace text

namespace {

constexpr std::string_view kDatFile = "dat";
constexpr std::string_view kHCDataFile = "HC\\dat1hc";
constexpr std::string_view kDeepDataFile = "hc\\dat2hc";

std::chrono::milliseconds gBudgetSecond{1000};

bool Before(CalendarDate a, CalendarDate b) {
    return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
}

}  // namespace

TReportCreation::TReportCreation(TMainForm& form) : form_(form) {
    BuildControls();
    form_.Hooks().createReports = [this] { CreateMonthReports(); };
    form_.Hooks().severalDayBoxes = [this] { SeveralDayBoxes(); };
    form_.Hooks().correctReport = [this](std::vector<std::string>& lines) { CorrectReport(lines); };
}

TReportCreation::~TReportCreation() {
    form_.Hooks().createReports = nullptr;
    form_.Hooks().severalDayBoxes = nullptr;
    form_.Hooks().correctReport = nullptr;
}

void TReportCreation::SetBudgetSecond(std::chrono::milliseconds second) {
    gBudgetSecond = second;
}

void TReportCreation::BuildControls() {
    QWidget* dates = form_.PanelWidget(Panel::HCDateSelect);
    btHCDateReportCreate_ =
        AddButton(dates, "btHCDateReportCreate", text::kCreateReports, 20, 350, 160);
    connect(btHCDateReportCreate_, &QPushButton::clicked, this, [this] { CreateHourlyReports(); });
    // Tab reaches the buttons from left to right.
    auto* dateBack = dates->findChild<QPushButton*>(QStringLiteral("btHCDateBack"));
    QWidget::setTabOrder(btHCDateReportCreate_, dateBack);
    QWidget::setTabOrder(dateBack, dates->findChild<QPushButton*>(QStringLiteral("btHCDateExit")));

    QWidget* days = form_.PanelWidget(Panel::HCAnyDay);
    btHCAnyDayNext_ = AddButton(days, "btHCAnyDayNext", text::kCreateReports, 20, 350, 160);
    connect(btHCAnyDayNext_, &QPushButton::clicked, this, [this] { CreateSeveralDayReports(); });
    // Below the calendars, above the buttons.
    scrollBoxAnyDay_ = new QScrollArea(days);
    scrollBoxAnyDay_->setObjectName(QStringLiteral("ScrollBoxAnyDay"));
    scrollBoxAnyDay_->setGeometry(20, 284, 540, 60);
    scrollBoxAnyDay_->setBackgroundRole(QPalette::Base);
    anyDayContent_ = new QWidget;
    scrollBoxAnyDay_->setWidget(anyDayContent_);
    QWidget::setTabOrder(scrollBoxAnyDay_, btHCAnyDayNext_);
    auto* dayBack = days->findChild<QPushButton*>(QStringLiteral("btHCAnyDayBack"));
    QWidget::setTabOrder(btHCAnyDayNext_, dayBack);
    QWidget::setTabOrder(dayBack, days->findChild<QPushButton*>(QStringLiteral("btHCAnyDayExit")));

    QWidget* wait = form_.PanelWidget(Panel::HCReportWait);
    pbWaitReport_ = new QProgressBar(wait);
    pbWaitReport_->setObjectName(QStringLiteral("pbWaitReport"));
    pbWaitReport_->setGeometry(30, 100, 400, 22);
    pbWaitReport_->setTextVisible(false);
    pbWaitReport_->setValue(0);
}

// ---------------------------------------------------------------------------------------------
// The check boxes of the several-days window, built anew for each data file.

void TReportCreation::SeveralDayBoxes() {
    for (QCheckBox* box : severalDayBoxes_) {
        box->hide();
        delete box;
    }
    severalDayBoxes_.clear();
    const TemplateList list =
        form_.Config()->ReadTemplateList(form_.Config()->Templates().severalDayTemplateList);
    severalDayTemplates_ = list.templates;
    severalDayCaptions_ = list.captions;

    const int count = static_cast<int>(severalDayCaptions_.size());
    const QSize view = scrollBoxAnyDay_->maximumViewportSize();
    int width = view.width();
    if (count * kCheckBoxStep > view.height()) {
        width -= scrollBoxAnyDay_->verticalScrollBar()->sizeHint().width();
    }
    for (int i = 0; i < count; ++i) {
        bool selected = false;
        std::string& caption = severalDayCaptions_[static_cast<std::size_t>(i)];
        caption = StripSelectedMark(caption, &selected);
        severalDayBoxes_.push_back(
            AddReportCheckBox(anyDayContent_, QStringLiteral("AnyDayCheckBox%1").arg(i), caption,
                              static_cast<std::size_t>(i), i, width, selected));
    }
    anyDayContent_->resize(width, kCheckBoxStep * count);
    scrollBoxAnyDay_->verticalScrollBar()->setValue(0);
}

void TReportCreation::CorrectReport(std::vector<std::string>& lines) {
    ReportContext context = MakeReportContext(form_.Dates(), form_.CurrentWorkState());
    context.deviceVersion = form_.DeviceVersion();
    calvix::CorrectReport(lines, context);
}

// ---------------------------------------------------------------------------------------------
// The three windows' "Создать отчеты".

void TReportCreation::CreateMonthReports() {
    flow_ = Flow::Month;
    form_.HidePanel(Panel::Report);
    form_.SetStatusText("");
    const auto& boxes = form_.ReportCheckBoxes();
    const int checked = static_cast<int>(
        std::count_if(boxes.begin(), boxes.end(), [](QCheckBox* box) { return box->isChecked(); }));
    if (checked == 0) {
        ShowError(text::kNoReportChosen);
        return;
    }
    StartFirstRun(Flow::Month, checked);
}

void TReportCreation::CreateHourlyReports() {
    flow_ = Flow::Hourly;
    form_.HidePanel(Panel::HCDateSelect);
    form_.SetStatusText("");
    hourlyDates_ = form_.Dates().hourlyDates;
    if (hourlyDates_.empty()) {
        ShowError(text::kNoDateChosen);
        return;
    }
    if (!ProgramFileExists(kMonthBuilder)) {
        ShowError(text::kTouchNotFound);
        return;
    }
    StartFirstRun(Flow::Hourly, static_cast<int>(hourlyDates_.size()));
}

void TReportCreation::CreateSeveralDayReports() {
    flow_ = Flow::SeveralDays;
    form_.HidePanel(Panel::HCAnyDay);
    if (!SeveralDayChecks()) {
        return;
    }
    unprepared_.clear();
    int count = 0;
    const ReportDates& dates = form_.Dates();
    if (dates.facts.deepArchiveMode) {
        dateRangeText_ = DateRangeText(dates.beginDate, dates.endDate);
        if (!ProgramFileExists(kDeepBuilder)) {
            ShowError(text::kNoDeepBuilder);
            return;
        }
        count = CountDeepTemplates();
    } else {
        if (!ProgramFileExists(kMonthBuilder)) {
            ShowError(text::kNoTouch);
            return;
        }
        count = PrepareCycleTemplates();
    }
    if (count == 0) {
        form_.ShowPanel(Panel::HCAnyDay);
        return;
    }
    StartFirstRun(Flow::SeveralDays, count);
}

bool TReportCreation::SeveralDayChecks() {
    if (std::none_of(severalDayBoxes_.begin(), severalDayBoxes_.end(),
                     [](QCheckBox* box) { return box->isChecked(); })) {
        ShowError(text::kNoSeveralDayReport);
        return false;
    }
    const ReportDates& dates = form_.Dates();
    if (Before(dates.endDate, dates.beginDate)) {
        ShowError(text::kWrongDates);
        return false;
    }
    const WorkState state = form_.CurrentWorkState();
    std::string_view dataFile;
    std::string_view missing;
    if (state == WorkState::stUpdSeveralDays) {
        dataFile = kDatFile;
        missing = text::kNoDataDat;
    } else if (state == WorkState::stHCSeveralDays && dates.facts.deepArchiveMode) {
        dataFile = kDeepDataFile;
        missing = text::kNoDataDeep;
    } else if (state == WorkState::stHCSeveralDays) {
        dataFile = kHCDataFile;
        missing = text::kNoDataHC;
    } else {
        ShowError(text::kDataFileUnknown);
        return false;
    }
    if (!ProgramFileExists(dataFile)) {
        ShowError(missing);
        return false;
    }
    return true;
}

int TReportCreation::CountDeepTemplates() {
    int count = 0;
    for (QCheckBox* box : severalDayBoxes_) {
        if (!box->isChecked()) {
            continue;
        }
        const std::size_t index = TMainForm::CheckBoxTag(box);
        if (index >= severalDayTemplates_.size()) {
            break;
        }
        if (ProgramFileExists(TemplatePath(TemplateFolder(), severalDayTemplates_[index]))) {
            ++count;
        }
    }
    return count;
}

// Writes the chosen period into the "@cycle" line of each checked template. A template that
// cannot be written back is reported and left out, so no report shows another period.
int TReportCreation::PrepareCycleTemplates() {
    const ReportDates& dates = form_.Dates();
    const CycleArguments arguments =
        CycleSlots(dates.limits.lowest, dates.beginDate, dates.endDate);
    int count = 0;
    for (QCheckBox* box : severalDayBoxes_) {
        if (!box->isChecked()) {
            continue;
        }
        const std::size_t index = TMainForm::CheckBoxTag(box);
        if (index >= severalDayTemplates_.size()) {
            break;
        }
        const std::string path = TemplatePath(TemplateFolder(), severalDayTemplates_[index]);
        switch (RewriteCycleTemplate(ProgramPath(path, form_.StartFolder()), arguments)) {
            case CycleRewrite::Rewritten:
                ++count;
                break;
            case CycleRewrite::Failed:
                unprepared_.insert(index);
                DialogService::ShowMessage(&form_, std::string(text::kTemplateNotWritten) + path,
                                           text::kError, MessageIcon::Error);
                break;
            case CycleRewrite::NoCycleLine:
            case CycleRewrite::Missing:  // the run reports it
                break;
        }
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Runs, one at a time.

// A run started: the wait panel counts `maximum` reports; none: the flow failed at once.
void TReportCreation::StartFirstRun(Flow flow, int maximum) {
    flow_ = flow;
    createdCount_ = 0;
    nextIndex_ = 0;
    if (StartNextRun()) {
        ShowWait(maximum);
    } else {
        ShowError(text::kReportCreationFailed);
    }
}

bool TReportCreation::StartNextRun() {
    switch (flow_) {
        case Flow::Month:
            return StartMonthRun();
        case Flow::Hourly:
            return StartHourlyRun();
        case Flow::SeveralDays:
            return StartSeveralDayRun();
    }
    return false;
}

bool TReportCreation::StartMonthRun() {
    const auto& boxes = form_.ReportCheckBoxes();
    const auto& templates = form_.MonthTemplates();
    for (std::size_t i = nextIndex_; i < boxes.size(); ++i) {
        QCheckBox* box = boxes[i];
        if (!box->isChecked()) {
            continue;
        }
        const std::size_t index = TMainForm::CheckBoxTag(box);
        if (index >= templates.size()) {
            box->setChecked(false);
            PaintReportCheckBox(box);
            continue;
        }
        if (templates[index].empty()) {
            continue;
        }
        const auto run = MonthRun(form_.CurrentWorkState(), TemplateFolder(), templates[index]);
        if (!run) {
            return false;
        }
        if (TryRun(*run, i + 1) == Attempt::Started) {
            return true;
        }
    }
    return false;
}

bool TReportCreation::StartHourlyRun() {
    for (std::size_t i = nextIndex_; i < hourlyDates_.size(); ++i) {
        const auto entry = ParseHourlyEntry(hourlyDates_[i]);
        if (!entry) {
            continue;
        }
        const auto run = HourlyRun(form_.CurrentWorkState(), TemplateFolder(), *entry);
        if (!run) {
            return false;
        }
        if (TryRun(*run, i + 1) == Attempt::Started) {
            return true;
        }
    }
    return false;
}

bool TReportCreation::StartSeveralDayRun() {
    const bool deep = form_.Dates().facts.deepArchiveMode;
    for (std::size_t i = nextIndex_; i < severalDayBoxes_.size(); ++i) {
        if (!severalDayBoxes_[i]->isChecked()) {
            continue;
        }
        const std::size_t index = TMainForm::CheckBoxTag(severalDayBoxes_[i]);
        if (index >= severalDayTemplates_.size()) {
            return false;
        }
        const std::string& name = severalDayTemplates_[index];
        if (name.empty() || unprepared_.count(index) != 0) {
            continue;
        }
        const auto run =
            SeveralDayRun(form_.CurrentWorkState(), TemplateFolder(), name, deep, dateRangeText_);
        if (!run) {
            return false;
        }
        if (TryRun(*run, i + 1) == Attempt::Started) {
            return true;
        }
    }
    return false;
}

TReportCreation::Attempt TReportCreation::TryRun(const BuilderRun& run, std::size_t nextIndex) {
    if (!ProgramFileExists(run.templatePath)) {
        DialogService::ShowMessage(&form_, std::string(text::kTemplateMissing) + run.templatePath,
                                   text::kError, MessageIcon::Error);
        return Attempt::Skipped;
    }
    std::error_code ignored;
    std::filesystem::remove(ProgramPath(run.output, form_.StartFolder()), ignored);
    nextIndex_ = nextIndex;
    workers::ExtProcSetup setup;
    setup.runOnMainThread = form_.MainThread();
    setup.workingFolder = form_.StartFolder();
    setup.second = gBudgetSecond;
    try {
        // Replacing the handle from inside the last run's end callback hands its thread, which
        // only returns now, to the reaper.
        worker_ = workers::CThreadExtProc::StartSingle(
            run.commandLine, workers::kBuilderBudgetSeconds, &form_,
            [this](void*, bool succeeded) { RunEnded(succeeded); }, std::move(setup));
    } catch (const std::exception&) {
        return Attempt::Skipped;
    }
    runningOutput_ = run.output;
    return Attempt::Started;
}

void TReportCreation::RunEnded(bool succeeded) {
    pbWaitReport_->setValue(std::min(pbWaitReport_->value() + 1, pbWaitReport_->maximum()));
    if (succeeded) {
        ++createdCount_;
    } else {
        // A builder stopped at its budget may have left half a report.
        std::error_code ignored;
        std::filesystem::remove(ProgramPath(runningOutput_, form_.StartFolder()), ignored);
    }
    runningOutput_.clear();
    if (StartNextRun()) {
        return;
    }
    form_.HidePanel(Panel::HCReportWait);
    if (createdCount_ == 0) {
        ShowError(text::kNoneCreated);
        return;
    }
    ListCreatedReports();
}

void TReportCreation::ListCreatedReports() {
    std::vector<std::string> paths;
    std::vector<std::string> captions;
    const WorkState state = form_.CurrentWorkState();
    const auto add = [&](const std::optional<BuilderRun>& run, std::string caption) {
        if (run && ProgramFileExists(run->output)) {
            paths.push_back(run->output);
            captions.push_back(std::move(caption));
        }
    };
    if (flow_ == Flow::Month) {
        const auto& templates = form_.MonthTemplates();
        for (QCheckBox* box : form_.ReportCheckBoxes()) {
            const std::size_t index = TMainForm::CheckBoxTag(box);
            if (box->isChecked() && index < templates.size() && !templates[index].empty()) {
                add(MonthRun(state, TemplateFolder(), templates[index]),
                    TMainForm::CheckBoxCaption(box));
            }
        }
    } else if (flow_ == Flow::Hourly) {
        for (const std::string& date : hourlyDates_) {
            const auto entry = ParseHourlyEntry(date);
            const std::string caption = entry ? HourlyCaption(*entry) : std::string();
            if (!caption.empty()) {
                add(HourlyRun(state, TemplateFolder(), *entry), caption);
            }
        }
    } else {
        const ReportDates& dates = form_.Dates();
        for (QCheckBox* box : severalDayBoxes_) {
            const std::size_t index = TMainForm::CheckBoxTag(box);
            if (!box->isChecked()) {
                continue;
            }
            if (index >= severalDayTemplates_.size()) {
                break;
            }
            if (!severalDayTemplates_[index].empty()) {
                add(SeveralDayRun(state, TemplateFolder(), severalDayTemplates_[index],
                                  dates.facts.deepArchiveMode, dateRangeText_),
                    SeveralDayCaption(dates.beginDate, dates.endDate,
                                      TMainForm::CheckBoxCaption(box)));
            }
        }
    }
    form_.SetCreatedReports(paths, captions);
    if (!paths.empty()) {
        form_.OpenReport(paths.front());
        form_.ReportList()->setCurrentRow(0);
    } else {
        ShowError(text::kNoneCreated);
    }
    form_.SetStatusText(text::kStatusHelp);
}

// ---------------------------------------------------------------------------------------------

void TReportCreation::ShowWait(int maximum) {
    pbWaitReport_->setMaximum(std::max(maximum, 1));
    pbWaitReport_->setValue(0);
    form_.ShowPanel(Panel::HCReportWait);
}

QWidget* TReportCreation::FlowPanel() const {
    switch (flow_) {
        case Flow::Month:
            return form_.PanelWidget(Panel::Report);
        case Flow::Hourly:
            return form_.PanelWidget(Panel::HCDateSelect);
        case Flow::SeveralDays:
            return form_.PanelWidget(Panel::HCAnyDay);
    }
    return nullptr;
}

void TReportCreation::ShowError(std::string_view message) {
    form_.ShowErrorPanel(message, FlowPanel());
}

bool TReportCreation::ProgramFileExists(std::string_view path) const {
    std::error_code ec;
    return std::filesystem::is_regular_file(ProgramPath(path, form_.StartFolder()), ec);
}

std::string TReportCreation::TemplateFolder() const {
    return form_.Config()->Templates().templateFolder;
}

}  // namespace calvix
