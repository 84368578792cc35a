#include "protocol/device_dates.h"

#include <algorithm>

namespace protocol {

int DaysInMonth(int month, int year) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    if (month == 2 && year % 4 == 0) {
        return 29;
    }
    return kDays[month - 1];
}

bool IsValidDate(int day, int month, int year) {
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year);
}

namespace {

int YearBefore(int year) {
    return (year + 255) % 256;
}
int YearAfter(int year) {
    return (year + 1) % 256;
}

}  // namespace

DeviceDate DayBefore(DeviceDate date) {
    if (date.day > 1) {
        --date.day;
        return date;
    }
    date = MonthBefore(date);
    date.day = DaysInMonth(date.month, date.year);
    return date;
}

DeviceDate MonthBefore(DeviceDate date) {
    if (date.month <= 1) {
        date.month = 12;
        date.year = YearBefore(date.year);
    } else {
        --date.month;
    }
    date.day = std::min(date.day, DaysInMonth(date.month, date.year));
    return date;
}

DeviceDate MonthAfter(DeviceDate date) {
    if (date.month >= 12) {
        date.month = 1;
        date.year = YearAfter(date.year);
    } else {
        ++date.month;
    }
    date.day = std::min(date.day, DaysInMonth(date.month, date.year));
    return date;
}

}  // namespace protocol
