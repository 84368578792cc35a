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

inline constexpr std::array<int, 12> kDaysCommonYear{31, 28, 31, 30, 31, 30,
                                                     31, 31, 30, 31, 30, 31};
inline constexpr std::array<int, 12> kDaysLeapYear{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(int year);
// Days of the month in that year (four-digit year); 0 for a month outside 1..12.
int DaysInMonth(int month, int year);
// The first day of the month before the date's month; January goes to December before.
CalendarDate PreviousMonth(CalendarDate date);

}  // namespace calvix
