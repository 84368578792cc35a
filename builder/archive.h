// What a data file holds, as the report builder sees it: days, months and hours of up to four
// pipelines in the units of docs/device-data.md.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/calendar.h"

namespace builder {

// Bad input the report explains instead of showing numbers; the text is Windows-1251.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Date {
    int year = 2000;  // full year
    int month = 1;
    int day = 1;
    auto operator<=>(const Date&) const = default;
};

bool IsValidDate(const Date& date);
using platform::DaysInMonth;
Date NextDay(const Date& date);
Date PreviousDay(const Date& date);

inline constexpr int kMaxPipelines = 4;

// One day, month or hour. Times in hours.
struct Values {
    std::array<double, kMaxPipelines> heat{};         // GJ
    std::array<double, kMaxPipelines> mass{};         // t
    std::array<double, kMaxPipelines> temperature{};  // °C, mean
    std::array<double, kMaxPipelines> pressure{};     // MPa, mean
    std::array<double, kMaxPipelines> work{};         // operating time of the pipeline
    double on = 0;                                    // time the device was on
    double length = 0;                                // length of what the values cover
};

struct Archive {
    std::optional<Date> clock;  // the take date
    int pipelines = 0;          // 2 or 4 once any archive was found
    std::string number;         // device number, Windows-1251
    std::string address;        // address text, Windows-1251
    int reportDay = 0;          // the device's reporting day, 0 when unknown
    std::map<Date, Values> days;
    std::map<Date, Values> months;                 // keyed by day 1
    std::map<std::pair<Date, int>, Values> hours;  // date and hour 0..23
};

// 0.d0d1d2d3d4 x 10^e and the seven-digit form; negatives complemented as the device does.
double DecodeDeviceNumber4(const std::uint8_t* bytes);
double DecodeDeviceNumber8(const std::uint8_t* bytes);

// Reads a whole data file; throws InputError for a damaged or incomplete one.
Archive ParseDataFile(std::string_view bytes);

}  // namespace builder
