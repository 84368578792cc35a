// Correction of the report builder's text output before a report is shown or saved: code page,
// the decade and several-day tables, hourly totals, date placeholders, the heading over the
// table. Works on the report's lines in memory; the file stays as the builder wrote it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/month_tables.h"
#include "gui/rules/work_state.h"

namespace calvix {

inline constexpr std::string_view kPreviousMonthDecadesMark = "***CORRECT_BD3";
inline constexpr std::string_view kTakeMonthDecadesMark = "***CORRECT_ND3";

// What the main window knows about the report's data when it corrects the report.
struct ReportContext {
    WorkState workState = WorkState::stArchive;
    bool deepArchiveMode = false;
    CalendarDate dataTakeDate;
    int reportDay = 0;
    CalendarDate beginDate;  // MonthCalendar3
    CalendarDate endDate;    // MonthCalendar4
    int deviceVersion = 0;
};

// A cell of the several-day table that is neither "---" nor a number; the text is 1251.
class ReportCorrectionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Every step in its order. On an error the lines stay as they were.
void CorrectReport(std::vector<std::string>& lines, const ReportContext& context);

// The builder's 866 letters as 1251, and every "?0.00?" shortened to "?".
std::string ConvertReportLine(std::string_view line);

// With a decade marker in the first line: removes the marker and the rows of the third decade
// that the month (the take date's month, or the one before it) does not have.
void TrimDecadeTable(std::vector<std::string>& lines, CalendarDate dataTakeDate);

// The "@cycle" report for begin..end: period in the heading, real day numbers, the days the
// first month lacks removed, and the totals of the first two value columns. Throws
// ReportCorrectionError for an unreadable value cell.
void CorrectSeveralDayTable(std::vector<std::string>& lines, CalendarDate begin, CalendarDate end);

// The lines above the first "+--" line centred over the table, blanks collapsed.
void CenterHeading(std::vector<std::string>& lines);

// "dd.mm.yyyy".
std::string ShortDate(CalendarDate date);

}  // namespace calvix
