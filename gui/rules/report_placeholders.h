// The date placeholders that report templates carry and the builder copies into its output:
// each is followed by the numbers it stands for, which become Russian dates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace calvix {

inline constexpr std::string_view kPreviousYearMark = "***-1YEAR";
inline constexpr std::string_view kMonthYearMark = "***CORRECT_MONTH_YEAR";
inline constexpr std::string_view kPeriodMark = "***CORRECT_O_MONTH_YEAR";
inline constexpr std::string_view kDayMonthYearMark = "***CORRECT_DAY_MONTH_YEAR";

// The reporting period of month `month` of year `year` (two digits mean 20yy) for a device whose
// reporting day is `reportDay`: "С 25 МАРТА ПО 24 АПРЕЛЯ 2006 Г."; empty when the numbers make
// no period (day 0, month outside 1..12, a reporting day the month does not have).
std::string ReportingPeriodText(int month, int year, int reportDay);

// Each of the four placeholders at its first place in the line, in the order above.
void FillPlaceholders(std::string& line, int reportDay);
// Every line, from the last to the first.
void FillPlaceholders(std::vector<std::string>& lines, int reportDay);

}  // namespace calvix
