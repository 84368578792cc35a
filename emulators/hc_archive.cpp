#include "emulators/hc_archive.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

#include "emulators/hc_commands.h"
#include "emulators/hc_device.h"
#include "emulators/hc_memory_map.h"
#include "emulators/hc_values.h"

namespace emulators {

namespace {

constexpr std::uint64_t kHourSalt = 0x48000000;
constexpr std::uint64_t kDaySalt = 0x44000000;

void AppendFloat(ByteVector& out, float value) {
    AppendFloatLe(out, value);
}

void AppendU32Le(ByteVector& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void AppendNumber(ByteVector& out, float value) {
    const auto bytes = EncodeArchiveNumber(value);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::uint8_t TwoDigitYear(const CivilDate& date) {
    return static_cast<std::uint8_t>(((date.year % 100) + 100) % 100);
}

float FloatAt(const ByteVector& bytes, std::size_t at) {
    const std::uint32_t bits = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    return std::bit_cast<float>(bits);
}

int MonthIndex(int year, unsigned month) {
    return year * 12 + static_cast<int>(month) - 1;
}

}  // namespace

CivilDate DateOfDay(std::int64_t dayNumber) {
    const std::chrono::sys_days day{std::chrono::days{dayNumber}};
    const std::chrono::year_month_day ymd{day};
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
            static_cast<unsigned>(ymd.day())};
}

std::optional<std::int64_t> DayNumberOf(int year, unsigned month, unsigned day) {
    const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{month},
                                          std::chrono::day{day}};
    if (!ymd.ok()) {
        return std::nullopt;
    }
    return std::chrono::sys_days{ymd}.time_since_epoch().count();
}

HourRecord MakeHourRecord(std::uint32_t seed, std::int64_t hourNumber) {
    auto r = [&](unsigned what) {
        return SeedFraction(seed, kHourSalt ^ static_cast<std::uint64_t>(hourNumber) << 8 ^ what);
    };
    HourRecord record;
    record.hourNumber = hourNumber;
    const std::int64_t dayNumber = hourNumber >= 0 ? hourNumber / 24 : (hourNumber - 23) / 24;
    record.date = DateOfDay(dayNumber);
    record.hour = static_cast<unsigned>(hourNumber - dayNumber * 24);
    // About one hour in 25 a pipeline stops for a few minutes.
    if (r(0) < 0.04) {
        record.flags = static_cast<std::uint8_t>(1 + static_cast<unsigned>(3 * r(1)));
        record.operatingSeconds =
            static_cast<std::uint16_t>(3600 - 60 * (5 + static_cast<unsigned>(40 * r(2))));
    }
    // The readings in the middle of the hour, as the current values show them then.
    const auto now = CurrentPipelineValues(seed, hourNumber * 3600 + 1800);
    for (unsigned p = 0; p < 4; ++p) {
        const bool faulted = p < 2 && (record.flags >> p & 1) != 0;
        const std::uint32_t seconds = faulted ? record.operatingSeconds : 3600;
        const double mass = now[p].flowTph * seconds / 3600.0 * (1.0 + 0.02 * (r(10 + p) - 0.5));
        PipelineTotals& t = record.pipelines[p];
        t.massT = FiveDigits(mass);
        t.heatGj = FiveDigits(HeatPower(mass, now[p].temperatureC));
        t.temperatureC = FiveDigits(now[p].temperatureC);
        t.pressureMpa = FiveDigits(now[p].pressureMpa);
        t.operatingSeconds = seconds;
    }
    return record;
}

PeriodRecord MakeDayRecord(std::uint32_t seed, std::int64_t dayNumber) {
    auto r = [&](unsigned what) {
        return SeedFraction(seed, kDaySalt ^ static_cast<std::uint64_t>(dayNumber) << 8 ^ what);
    };
    PeriodRecord record;
    record.date = DateOfDay(dayNumber);
    // One day in twenty the device was off for a few hours.
    std::uint32_t off = 0;
    if (r(0) < 0.05) {
        off = 3600 * (1 + static_cast<std::uint32_t>(4 * r(1)));
    }
    record.periodSeconds = 86400;
    record.runningSeconds = 86400 - off;
    for (unsigned p = 0; p < 4; ++p) {
        const PipelineValues base = TypicalPipelineValues(seed, static_cast<int>(p));
        auto rp = [&](unsigned what) { return r(16 * (p + 1) + what); };
        std::uint32_t operating = record.runningSeconds;
        if (rp(0) < 0.03) {
            operating -= 1800 * (1 + static_cast<std::uint32_t>(3 * rp(1)));
        }
        const double temperature = base.temperatureC + 4.0 * (rp(2) - 0.5);
        const double mass = base.flowTph * operating / 3600.0 * (1.0 + 0.1 * (rp(3) - 0.5));
        PipelineTotals& t = record.pipelines[p];
        t.massT = FiveDigits(mass);
        t.heatGj = FiveDigits(HeatPower(mass, temperature));
        t.temperatureC = FiveDigits(temperature);
        t.pressureMpa = FiveDigits(base.pressureMpa + 0.04 * (rp(4) - 0.5));
        t.operatingSeconds = operating;
    }
    return record;
}

PeriodRecord MakeMonthRecord(std::uint32_t seed, CivilDate date, std::int64_t lastDay) {
    PeriodRecord month;
    month.date = {date.year, date.month, 1};
    const std::int64_t first = *DayNumberOf(date.year, date.month, 1);
    const std::int64_t next = date.month == 12 ? *DayNumberOf(date.year + 1, 1, 1)
                                               : *DayNumberOf(date.year, date.month + 1, 1);
    const std::int64_t end = std::min(next, lastDay + 1);
    std::array<double, 4> heat{}, mass{}, temperature{}, pressure{};
    int days = 0;
    for (std::int64_t d = first; d < end; ++d, ++days) {
        const PeriodRecord day = MakeDayRecord(seed, d);
        month.periodSeconds += day.periodSeconds;
        month.runningSeconds += day.runningSeconds;
        for (unsigned p = 0; p < 4; ++p) {
            heat[p] += day.pipelines[p].heatGj;
            mass[p] += day.pipelines[p].massT;
            // Means weighted by operating time, as docs/device-data.md defines them.
            const double weight = day.pipelines[p].operatingSeconds;
            temperature[p] += day.pipelines[p].temperatureC * weight;
            pressure[p] += day.pipelines[p].pressureMpa * weight;
            month.pipelines[p].operatingSeconds += day.pipelines[p].operatingSeconds;
        }
    }
    for (unsigned p = 0; p < 4 && days > 0; ++p) {
        PipelineTotals& t = month.pipelines[p];
        t.heatGj = FiveDigits(heat[p]);
        t.massT = FiveDigits(mass[p]);
        const double time = std::max<double>(t.operatingSeconds, 1.0);
        t.temperatureC = FiveDigits(temperature[p] / time);
        t.pressureMpa = FiveDigits(pressure[p] / time);
    }
    return month;
}

std::optional<std::int64_t> NewestHour(const HcConfig& config, std::int64_t now) {
    if (config.emptyArchives || config.hourlyRecords == 0) {
        return std::nullopt;
    }
    return (now >= 0 ? now / 3600 : (now - 3599) / 3600) - 1;
}

bool HoldsHour(const HcConfig& config, std::int64_t now, std::int64_t hourNumber) {
    const auto newest = NewestHour(config, now);
    return newest && hourNumber <= *newest &&
           *newest - hourNumber < static_cast<std::int64_t>(config.hourlyRecords);
}

bool HoldsDay(const HcConfig& config, const Personality& personality, std::int64_t now,
              std::int64_t dayNumber) {
    const std::int64_t back = DayNumberAt(now) - dayNumber;
    if (config.emptyArchives || back < 0 ||
        back >= static_cast<std::int64_t>(personality.dailyDepthDays)) {
        return false;
    }
    if (std::find(config.missingDays.begin(), config.missingDays.end(),
                  static_cast<unsigned>(back)) != config.missingDays.end()) {
        return false;
    }
    const auto every = static_cast<std::int64_t>(config.missingEveryNthDay);
    return !(every > 0 && back > 0 && back % every == 0);
}

bool HoldsMonth(const HcConfig& config, const Personality& personality, std::int64_t now, int year,
                unsigned month) {
    const CivilDate today = DateOfDay(DayNumberAt(now));
    const int back = MonthIndex(today.year, today.month) - MonthIndex(year, month);
    return !config.emptyArchives && back >= 0 &&
           back < static_cast<int>(personality.monthlyDepthMonths);
}

ByteVector HourAnswer(const Personality& personality, const HourRecord& record) {
    if (personality.hourlyAnswerSize == kHourAnswerSize60) {
        return HourAnswerFromDumpRecord(HourDumpRecord(record, 0));
    }
    const auto number = static_cast<std::uint16_t>(record.hourNumber);
    ByteVector answer{kStatusAnswer,
                      0,
                      0,
                      TwoDigitYear(record.date),
                      static_cast<std::uint8_t>(record.date.month),
                      static_cast<std::uint8_t>(record.date.day),
                      static_cast<std::uint8_t>(record.hour),
                      record.flags};
    answer.insert(answer.end(), 7, 0);
    answer.push_back(static_cast<std::uint8_t>(record.operatingSeconds >> 8));
    answer.push_back(static_cast<std::uint8_t>(record.operatingSeconds));
    answer.insert(answer.end(), {1, 0, 4});
    answer.push_back(static_cast<std::uint8_t>(number >> 8));
    answer.push_back(static_cast<std::uint8_t>(number));
    answer.insert(answer.end(), {0, 0, 3, 16});
    for (const PipelineTotals& t : record.pipelines) {
        for (float v : {t.heatGj, t.massT, t.temperatureC, t.pressureMpa}) {
            AppendNumber(answer, v);
        }
    }
    answer.resize(kHourAnswerSizeWide, 0);
    return answer;
}

ByteVector PeriodAnswer60(const PeriodRecord& record, std::uint8_t recordType) {
    const std::int64_t serial =
        recordType == kDailyRecordType
            ? *DayNumberOf(record.date.year, record.date.month, record.date.day)
            : MonthIndex(record.date.year, record.date.month);
    const PipelineTotals& p1 = record.pipelines[0];
    const PipelineTotals& p2 = record.pipelines[1];
    ByteVector answer{kStatusAnswer,
                      recordType,
                      static_cast<std::uint8_t>(serial >> 8),
                      static_cast<std::uint8_t>(serial),
                      static_cast<std::uint8_t>(record.date.day),
                      static_cast<std::uint8_t>(record.date.month),
                      TwoDigitYear(record.date)};
    AppendU32Le(answer, record.runningSeconds);                   // C2
    for (float v : {p1.heatGj, p2.heatGj, p1.massT, p2.massT}) {  // Q6, Q5, Q4, Q3
        AppendFloat(answer, v);
    }
    for (float v : {p1.temperatureC, p2.temperatureC, p1.pressureMpa, p2.pressureMpa}) {
        AppendFloat(answer, v);  // Q10, Q9, Q8, Q7
    }
    AppendU32Le(answer, p1.operatingSeconds);                           // C1
    AppendU32Le(answer, p2.operatingSeconds);                           // C0
    AppendU32Le(answer, record.periodSeconds - record.runningSeconds);  // time the device was off
    return answer;
}

ByteVector Day180Answer(const PeriodRecord& record) {
    ByteVector answer{kStatusAnswer, static_cast<std::uint8_t>(record.date.day),
                      static_cast<std::uint8_t>(record.date.month), TwoDigitYear(record.date), 0};
    for (const PipelineTotals& t : record.pipelines) {
        for (float v : {t.heatGj, t.massT, t.temperatureC, t.pressureMpa}) {
            AppendFloat(answer, v);
        }
    }
    AppendU32Le(answer, record.runningSeconds);
    for (const PipelineTotals& t : record.pipelines) {
        AppendU32Le(answer, t.operatingSeconds);
    }
    answer.resize(kDay180AnswerSize, 0);
    return answer;
}

ByteVector MakeRecord(const std::array<std::uint8_t, 5>& tag, const ByteVector& data) {
    const std::size_t length = data.size() + 6;
    ByteVector record{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 5};
    record.insert(record.end(), tag.begin(), tag.end());
    record.insert(record.end(), data.begin(), data.end());
    return record;
}

ByteVector HourDumpRecord(const HourRecord& record, std::uint16_t index) {
    ByteVector data(kDumpHourRecordSize - 8, 0);
    auto at = [&](std::size_t recordOffset) -> std::uint8_t& { return data[recordOffset - 8]; };
    at(8) = 1;
    at(9) = record.flags;
    at(10) = static_cast<std::uint8_t>(record.hour);
    at(11) = static_cast<std::uint8_t>(record.date.day);
    at(12) = static_cast<std::uint8_t>(record.date.month);
    at(13) = TwoDigitYear(record.date);
    at(14) = static_cast<std::uint8_t>(record.operatingSeconds);
    at(15) = static_cast<std::uint8_t>(record.operatingSeconds >> 8);
    for (unsigned p = 0; p < 2; ++p) {
        const PipelineTotals& t = record.pipelines[p];
        const float values[4] = {t.heatGj, t.massT, t.temperatureC, t.pressureMpa};
        for (unsigned q = 0; q < 4; ++q) {
            const auto bits = std::bit_cast<std::uint32_t>(values[q]);
            for (unsigned b = 0; b < 4; ++b) {
                at(18 + 8 * q + 4 * p + b) = static_cast<std::uint8_t>(bits >> (8 * b));
            }
        }
    }
    const auto number = static_cast<std::uint16_t>(record.hourNumber);
    at(58) = static_cast<std::uint8_t>(number >> 8);
    at(59) = static_cast<std::uint8_t>(number);
    return MakeRecord({kDumpHourTag, 0, static_cast<std::uint8_t>(index >> 8),
                       static_cast<std::uint8_t>(index), 0},
                      data);
}

ByteVector HourAnswerFromDumpRecord(const ByteVector& r) {
    ByteVector answer{kStatusAnswer, 0, 0, r[13], r[12], r[11], r[10], r[9]};
    answer.insert(answer.end(), 7, 0);
    answer.insert(answer.end(), {r[15], r[14], 1, 0, 4, r[58], r[59], 0, 0, 3, 16});
    for (std::size_t at : {18, 26, 34, 42, 22, 30, 38, 46}) {
        AppendNumber(answer, FloatAt(r, at));
    }
    return answer;
}

}  // namespace emulators
