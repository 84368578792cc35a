// Dates of the reports of a data file: the facts read from the file (take date, reporting day,
// deep archive, device), the period names of the report captions, the limits of the several-day
// calendars and the list of hourly-report dates.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/month_tables.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/work_state.h"

namespace calvix {

// What the inspection of a data file found. Texts are 1251.
struct DataFileFacts {
    bool takeDateValid = false;  // the file's clock record held a real date
    CalendarDate dataTakeDate;   // that date, else today
    bool deepArchiveMode = false;
    int reportDay = 0;
    int deviceVersion = 0;
    std::string deviceNumber;
    std::string address;
    std::string deviceTitle;  // "Прибор № " + number + ", " + address + ", "
};

// Reads the clock, settings, device number and address records of a data file. `deviceType` is
// the configured "тип"; `today` stands in for a take date the file does not give.
DataFileFacts InspectDataFile(const std::filesystem::path& path, std::string_view deviceType,
                              CalendarDate today);
// The same with the computer's local date.
DataFileFacts InspectDataFile(const std::filesystem::path& path, std::string_view deviceType);

CalendarDate Today();
bool IsValidDate(CalendarDate date);
// The date `days` days later (earlier when negative).
CalendarDate AddDays(CalendarDate date, int days);

struct PeriodLabel {
    std::string_view label;
    std::string replacement;  // empty: the label stays
};
using PeriodLabels = std::array<PeriodLabel, 7>;

// The seven labels with their replacements for the take date; all replacements are empty when
// the take date is not valid.
PeriodLabels MakePeriodLabels(const DataFileFacts& facts);
// Every label of a pair with a replacement, from the last pair to the first, replaced in the
// caption; a caption that then starts with FFh gets a blank in front.
std::string ApplyPeriodLabels(std::string caption, const PeriodLabels& labels);

// The dates the several-day calendars allow.
struct CalendarLimits {
    CalendarDate lowest;
    CalendarDate highest;
};
CalendarLimits MakeCalendarLimits(CalendarDate dataTakeDate, bool deepArchiveMode);

// One entry of the hourly-report date list ("dd.mm.yyyy").
struct DateListEntry {
    std::string text;
    bool selected = false;
};
// Removes every equal entry and appends the date, so a date is in the list once, at the end.
void AddHourlyDate(std::vector<DateListEntry>& list, CalendarDate date);
void RemoveSelectedDates(std::vector<DateListEntry>& list);

// What report creation needs of the report dates; the main window holds it.
struct ReportDates {
    DataFileFacts facts;
    PeriodLabels periodLabels;
    CalendarLimits limits;
    std::vector<std::string> hourlyDates;  // in list order
    CalendarDate beginDate;                // MonthCalendar3
    CalendarDate endDate;                  // MonthCalendar4
};

ReportContext MakeReportContext(const ReportDates& dates, WorkState workState);

}  // namespace calvix
