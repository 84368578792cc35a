// Report dates of a data file: period captions, the hourly-date and several-days windows.
#pragma once

#include <QDate>
#include <QObject>
#include <string_view>
#include <vector>

#include "gui/rules/report_dates.h"

class QCalendarWidget;
class QListWidget;
class QPushButton;

namespace calvix {

class TMainForm;

// Builds the calendars of panHCDateSelect and panHCAnyDay, inspects each data file the main
// window takes and keeps the form's Dates() up to date with what the operator chooses.
class TReportDatesWindow : public QObject {
  public:
    explicit TReportDatesWindow(TMainForm& form);
    ~TReportDatesWindow() override;
    TReportDatesWindow(const TReportDatesWindow&) = delete;
    TReportDatesWindow& operator=(const TReportDatesWindow&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct ShownMonth {
        int year = 0;
        int month = 0;
    };

    void BuildDateSelect();
    void BuildAnyDay();
    QCalendarWidget* AddCalendar(QWidget* parent, const char* name, int left, int top);

    void InspectDataFile(std::string_view dataFile);
    void SetCalendars();
    void ApplyPeriodLabels();

    void MonthCalendar2GetMonthInfo(int year, int month);
    void MonthCalendar2Click(QDate date);
    void btHCDateSetClick();
    void RemoveSelectedDates();
    void lbHCDateSelectedKeyUp(int key);
    std::vector<DateListEntry> ReadDateList() const;
    void WriteDateList(const std::vector<DateListEntry>& entries);
    void KeepHourlyDates();

    TMainForm& form_;
    QCalendarWidget* monthCalendar2_ = nullptr;
    QCalendarWidget* monthCalendar3_ = nullptr;
    QCalendarWidget* monthCalendar4_ = nullptr;
    QWidget* calendar2View_ = nullptr;
    QPushButton* btHCDateSet_ = nullptr;
    QListWidget* lbHCDateSelected_ = nullptr;
    // A calendar's own limits, put back before new ones are set.
    QDate noMinimum_;
    QDate noMaximum_;
    ShownMonth remembered_;
    ShownMonth shownAtPress_;
    bool pressed_ = false;
};

}  // namespace calvix
