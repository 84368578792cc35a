#include "gui/report_dates_window.h"

#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>

#include "gui/display_text.h"
#include "gui/form_controls.h"
#include "gui/rules/report_files.h"
#include "gui/unitmainform.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace text {

inline constexpr std::string_view kHCDateSet = W1251("Дата съема");

}  // namespace text

namespace {

QDate ToQDate(CalendarDate date) {
    return {date.year, date.month, date.day};
}

CalendarDate FromQDate(QDate date) {
    return {date.year(), date.month(), date.day()};
}

}  // namespace

TReportDatesWindow::TReportDatesWindow(TMainForm& form) : form_(form) {
    BuildDateSelect();
    BuildAnyDay();
    form_.Hooks().inspectDataFile = [this](std::string_view dataFile) {
        InspectDataFile(dataFile);
    };
    form_.Hooks().afterReportBoxes = [this] { ApplyPeriodLabels(); };
}

TReportDatesWindow::~TReportDatesWindow() {
    form_.Hooks().inspectDataFile = nullptr;
    form_.Hooks().afterReportBoxes = nullptr;
}

QCalendarWidget* TReportDatesWindow::AddCalendar(QWidget* parent, const char* name, int left,
                                                 int top) {
    auto* calendar = new QCalendarWidget(parent);
    calendar->setObjectName(QString::fromLatin1(name));
    calendar->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
    calendar->setFirstDayOfWeek(Qt::Monday);
    calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar->setGeometry(left, top, 250, 210);
    return calendar;
}

void TReportDatesWindow::BuildDateSelect() {
    QWidget* panel = form_.PanelWidget(Panel::HCDateSelect);
    lbHCDateSelected_ = panel->findChild<QListWidget*>(QStringLiteral("lbHCDateSelected"));
    lbHCDateSelected_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lbHCDateSelected_->installEventFilter(this);
    lbHCDateSelected_->viewport()->installEventFilter(this);
    const QAbstractItemModel* model = lbHCDateSelected_->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { KeepHourlyDates(); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { KeepHourlyDates(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { KeepHourlyDates(); });
    connect(model, &QAbstractItemModel::dataChanged, this, [this] { KeepHourlyDates(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { KeepHourlyDates(); });

    monthCalendar2_ = AddCalendar(panel, "MonthCalendar2", 20, 66);
    calendar2View_ =
        monthCalendar2_->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"))
            ->viewport();
    calendar2View_->installEventFilter(this);
    const QDate shown = monthCalendar2_->selectedDate();
    remembered_ = {shown.year(), shown.month()};
    connect(monthCalendar2_, &QCalendarWidget::currentPageChanged, this,
            [this](int year, int month) { MonthCalendar2GetMonthInfo(year, month); });
    connect(monthCalendar2_, &QCalendarWidget::clicked, this,
            [this](QDate date) { MonthCalendar2Click(date); });

    btHCDateSet_ = new QPushButton(ToQt(text::kHCDateSet), panel);
    btHCDateSet_->setObjectName(QStringLiteral("btHCDateSet"));
    btHCDateSet_->setGeometry(20, 290, 125, kButtonHeight);
    connect(btHCDateSet_, &QPushButton::clicked, this, [this] { btHCDateSetClick(); });
}

void TReportDatesWindow::BuildAnyDay() {
    QWidget* panel = form_.PanelWidget(Panel::HCAnyDay);
    monthCalendar3_ = AddCalendar(panel, "MonthCalendar3", 20, 66);
    monthCalendar4_ = AddCalendar(panel, "MonthCalendar4", 300, 66);
    noMinimum_ = monthCalendar3_->minimumDate();
    noMaximum_ = monthCalendar3_->maximumDate();
    connect(monthCalendar3_, &QCalendarWidget::selectionChanged, this,
            [this] { form_.Dates().beginDate = FromQDate(monthCalendar3_->selectedDate()); });
    connect(monthCalendar4_, &QCalendarWidget::selectionChanged, this,
            [this] { form_.Dates().endDate = FromQDate(monthCalendar4_->selectedDate()); });
}

// ---------------------------------------------------------------------------------------------
// A freshly taken data file.

void TReportDatesWindow::InspectDataFile(std::string_view dataFile) {
    ReportDates& dates = form_.Dates();
    const std::string deviceType =
        form_.Config() != nullptr ? form_.Config()->Connection().deviceType : std::string();
    dates.facts = calvix::InspectDataFile(ProgramPath(dataFile, form_.StartFolder()), deviceType);
    dates.periodLabels = MakePeriodLabels(dates.facts);
    dates.limits = MakeCalendarLimits(dates.facts.dataTakeDate, dates.facts.deepArchiveMode);
    form_.SetDeviceInfo(dates.facts.deviceTitle, dates.facts.address, dates.facts.deviceVersion);
    SetCalendars();
}

void TReportDatesWindow::SetCalendars() {
    const ReportDates& dates = form_.Dates();
    const QDate take = ToQDate(dates.facts.dataTakeDate);
    monthCalendar2_->setSelectedDate(take);
    remembered_ = {take.year(), take.month()};
    const QDate lowest = ToQDate(dates.limits.lowest);
    const QDate highest = ToQDate(dates.limits.highest);
    for (QCalendarWidget* calendar : {monthCalendar3_, monthCalendar4_}) {
        calendar->setDateRange(noMinimum_, noMaximum_);
        calendar->setDateRange(lowest, highest);
    }
    monthCalendar3_->setSelectedDate(lowest);
    monthCalendar4_->setSelectedDate(take);
    form_.Dates().beginDate = FromQDate(monthCalendar3_->selectedDate());
    form_.Dates().endDate = FromQDate(monthCalendar4_->selectedDate());
}

void TReportDatesWindow::ApplyPeriodLabels() {
    const PeriodLabels& labels = form_.Dates().periodLabels;
    for (QCheckBox* box : form_.ReportCheckBoxes()) {
        const std::string caption = ReportCheckBoxCaption(box);
        const std::string named = calvix::ApplyPeriodLabels(caption, labels);
        if (named != caption) {
            SetReportCheckBoxCaption(box, named);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The hourly-date window.

void TReportDatesWindow::MonthCalendar2GetMonthInfo(int year, int month) {
    remembered_ = {year, month};
}

// A click adds its date only in the month that was shown when the button went down: a click
// on a day of the next or previous month leafs there and adds nothing.
void TReportDatesWindow::MonthCalendar2Click(QDate date) {
    const ShownMonth before = pressed_ ? shownAtPress_ : remembered_;
    pressed_ = false;
    if (date.year() == before.year && date.month() == before.month) {
        std::vector<DateListEntry> entries = ReadDateList();
        AddHourlyDate(entries, FromQDate(date));
        WriteDateList(entries);
    }
    const QDate current = monthCalendar2_->selectedDate();
    remembered_ = {current.year(), current.month()};
}

void TReportDatesWindow::btHCDateSetClick() {
    monthCalendar2_->setSelectedDate(ToQDate(form_.Dates().facts.dataTakeDate));
}

void TReportDatesWindow::RemoveSelectedDates() {
    std::vector<DateListEntry> entries = ReadDateList();
    calvix::RemoveSelectedDates(entries);
    WriteDateList(entries);
}

void TReportDatesWindow::lbHCDateSelectedKeyUp(int key) {
    if (key == Qt::Key_Delete && QGuiApplication::applicationState() == Qt::ApplicationActive) {
        RemoveSelectedDates();
    }
    const int count = lbHCDateSelected_->count();
    if (count > 0) {
        lbHCDateSelected_->setCurrentRow(count - 1, QItemSelectionModel::Select);
    }
}

std::vector<DateListEntry> TReportDatesWindow::ReadDateList() const {
    std::vector<DateListEntry> entries;
    for (int row = 0; row < lbHCDateSelected_->count(); ++row) {
        const QListWidgetItem* item = lbHCDateSelected_->item(row);
        entries.push_back({From1251Widget(item->text()), item->isSelected()});
    }
    return entries;
}

void TReportDatesWindow::WriteDateList(const std::vector<DateListEntry>& entries) {
    lbHCDateSelected_->clear();
    for (const DateListEntry& entry : entries) {
        auto* item = new QListWidgetItem(ToQt(entry.text), lbHCDateSelected_);
        item->setSelected(entry.selected);
    }
}

void TReportDatesWindow::KeepHourlyDates() {
    std::vector<std::string>& dates = form_.Dates().hourlyDates;
    dates.clear();
    for (int row = 0; row < lbHCDateSelected_->count(); ++row) {
        dates.push_back(From1251Widget(lbHCDateSelected_->item(row)->text()));
    }
}

bool TReportDatesWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == calendar2View_ && event->type() == QEvent::MouseButtonPress) {
        shownAtPress_ = remembered_;
        pressed_ = true;
    } else if (watched == lbHCDateSelected_->viewport() &&
               event->type() == QEvent::MouseButtonDblClick) {
        RemoveSelectedDates();
        return true;
    } else if (watched == lbHCDateSelected_ && event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat()) {
            lbHCDateSelectedKeyUp(key->key());
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace calvix
