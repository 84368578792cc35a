// The archives of a heat calculator: hourly, daily and monthly records, which of them the device
// holds at a given clock, and the answers of the archive commands. Record contents depend only
// on the seed and the record's date, so the same day asked twice, or asked of two devices with
// the same seed, gives the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace emulators {

struct HcConfig;
struct Personality;

using ByteVector = std::vector<std::uint8_t>;

struct CivilDate {
    int year = 2000;  // full year
    unsigned month = 1;
    unsigned day = 1;
};

// Days since 1970-01-01 and back.
CivilDate DateOfDay(std::int64_t dayNumber);
// nullopt for a date that does not exist (31 April, 29 February 2023, month 13).
std::optional<std::int64_t> DayNumberOf(int year, unsigned month, unsigned day);
inline std::int64_t DayNumberAt(std::int64_t unixSeconds) {
    return unixSeconds >= 0 ? unixSeconds / 86400 : (unixSeconds - 86399) / 86400;
}

// Totals of one pipeline over an hour, a day or a month.
struct PipelineTotals {
    float heatGj = 0;
    float massT = 0;
    float temperatureC = 0;  // mean
    float pressureMpa = 0;   // mean
    std::uint32_t operatingSeconds = 0;
};

struct HourRecord {
    std::int64_t hourNumber = 0;  // hours since the epoch of the hour the record covers
    CivilDate date;
    unsigned hour = 0;
    std::uint8_t flags = 0;  // bit 0: pipeline 1 faulted, bit 1: pipeline 2 faulted
    std::uint16_t operatingSeconds = 3600;
    std::array<PipelineTotals, 4> pipelines{};
};

// A day or a month.
struct PeriodRecord {
    CivilDate date;                    // day 1 for a month
    std::uint32_t periodSeconds = 0;   // the length of what the record covers
    std::uint32_t runningSeconds = 0;  // of that, the time the device was on
    std::array<PipelineTotals, 4> pipelines{};
};

HourRecord MakeHourRecord(std::uint32_t seed, std::int64_t hourNumber);
PeriodRecord MakeDayRecord(std::uint32_t seed, std::int64_t dayNumber);
// The month of `date`; its days up to and including `lastDay` (the whole month when later).
PeriodRecord MakeMonthRecord(std::uint32_t seed, CivilDate date, std::int64_t lastDay);

// ---- What the device holds at device time `now` ---------------------------------------------

// The newest hourly record covers the last complete hour; nullopt when the archive is empty.
std::optional<std::int64_t> NewestHour(const HcConfig& config, std::int64_t now);
bool HoldsHour(const HcConfig& config, std::int64_t now, std::int64_t hourNumber);
// Days back from today: 0 (today) .. the personality's daily depth - 1, less the days
// configured as missing.
bool HoldsDay(const HcConfig& config, const Personality& personality, std::int64_t now,
              std::int64_t dayNumber);
// Months back from the current one: 0 .. the personality's monthly depth - 1.
bool HoldsMonth(const HcConfig& config, const Personality& personality, std::int64_t now, int year,
                unsigned month);

// ---- Answers (status byte first) ------------------------------------------------------------

inline constexpr std::size_t kHourAnswerSize60 = 58;
inline constexpr std::size_t kHourAnswerSizeWide = 92;
inline constexpr std::size_t kPeriodAnswerSize60 = 55;
inline constexpr std::size_t kDay180AnswerSize = 97;
inline constexpr std::uint8_t kDailyRecordType = 2;
inline constexpr std::uint8_t kMonthlyRecordType = 3;

// 58 bytes for version 60 (made from the dump record of the hour, so that a converted dump
// gives the same bytes), 92 bytes with four pipelines otherwise.
ByteVector HourAnswer(const Personality& personality, const HourRecord& record);
// Version 60, 55 bytes: record type 2 (day) or 3 (month).
ByteVector PeriodAnswer60(const PeriodRecord& record, std::uint8_t recordType);
// The 180-day archive, 97 bytes.
ByteVector Day180Answer(const PeriodRecord& record);

// ---- Dump records ---------------------------------------------------------------------------

inline constexpr std::uint8_t kDumpHourTag = 0x21;
inline constexpr std::uint8_t kDumpDayTag = 0x22;
inline constexpr std::uint8_t kDumpMonthTag = 0x23;
inline constexpr std::size_t kDumpHourRecordSize = 66;  // length field included

// A whole record: length (high byte first), tag length 5, tag, data.
ByteVector MakeRecord(const std::array<std::uint8_t, 5>& tag, const ByteVector& data);
// The hourly dump record; `index` counts from the newest record (0) and only goes to the tag.
ByteVector HourDumpRecord(const HourRecord& record, std::uint16_t index);
// The 58-byte answer that a dump conversion makes from an hourly dump record.
ByteVector HourAnswerFromDumpRecord(const ByteVector& record);

}  // namespace emulators
