// Dates as the device keeps them: day, month and a two-digit year in one byte.
#pragma once

#include <cstdint>

namespace protocol {

struct DeviceDate {
    int day = 1;
    int month = 1;
    int year = 0;  // 0..255: the year byte, which wraps
};

// Days of a month; February has 29 when the two-digit year is divisible by 4.
int DaysInMonth(int month, int year);
bool IsValidDate(int day, int month, int year);
// One day back; from day 1 to the last day of the previous month.
DeviceDate DayBefore(DeviceDate date);
// One month back or forward; the day is cut to the days of the new month.
DeviceDate MonthBefore(DeviceDate date);
DeviceDate MonthAfter(DeviceDate date);

inline int FromBcd(std::uint8_t byte) {
    return (byte >> 4) * 10 + (byte & 0x0F);
}
inline std::uint8_t ToBcd(int value) {
    return static_cast<std::uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

}  // namespace protocol
