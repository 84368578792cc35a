// Month names and month lengths of the report dates, captions and report texts.
#pragma once

#include <array>
#include <string_view>

namespace calvix {

// A day of the calendar (year with four digits, month 1..12, day 1..31).
struct CalendarDate {
    int year = 2000;
    int month = 1;
    int day = 1;
};

enum class MonthForm {
    LowerNominative,  // январь
    UpperNominative,  // ЯНВАРЬ
    LowerGenitive,    // января
    UpperGenitive,    // ЯНВАРЯ
};

// The month's name in 1251 bytes; empty for a month outside 1..12.
std::string_view MonthName(MonthForm form, int month);

// Days per month in common and leap years: platform::kDaysCommonYear, kDaysLeapYear and
// platform::DaysInMonth(year, month).
// The first day of the month before the date's month; January goes to December before.
CalendarDate PreviousMonth(CalendarDate date);

}  // namespace calvix
