// The Gregorian calendar of four-digit years, for every program that works with dates.
#pragma once

#include <array>
#include <cstddef>

namespace platform {

inline constexpr std::array<int, 12> kDaysCommonYear{31, 28, 31, 30, 31, 30,
                                                     31, 31, 30, 31, 30, 31};
inline constexpr std::array<int, 12> kDaysLeapYear{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

inline constexpr bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of the month; 0 for a month outside 1..12.
inline constexpr int DaysInMonth(int year, int month) {
    if (month < 1 || month > 12) {
        return 0;
    }
    const auto& table = IsLeapYear(year) ? kDaysLeapYear : kDaysCommonYear;
    return table[static_cast<std::size_t>(month - 1)];
}

}  // namespace platform
