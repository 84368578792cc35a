#include "builder/archive.h"

#include <bit>
#include <cmath>
#include <vector>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"

namespace builder {

namespace {

using Bytes = std::basic_string_view<std::uint8_t>;

constexpr int kDailySlots = 62;
constexpr int kMonthlySlots = 24;

int Bcd(std::uint8_t byte) {
    return (byte >> 4) * 10 + (byte & 0x0F);
}

float FloatLe(const std::uint8_t* p) {
    const std::uint32_t bits =
        p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    return std::bit_cast<float>(bits);
}

std::uint32_t U32Le(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A text field of the device (866), ended by a zero byte, FF bytes left out.
std::string DeviceText(Bytes data, std::size_t limit) {
    std::string text;
    for (std::size_t i = 0; i < data.size() && i < limit && data[i] != 0; ++i) {
        // A line end would break the report's line in two.
        if (data[i] == '\r' || data[i] == '\n') {
            text.push_back('?');
        } else if (data[i] != 0xFF) {
            text.push_back(static_cast<char>(data[i]));
        }
    }
    return platform::Cp866ToCp1251(text);
}

// Digits of a device number from their nibbles, most significant first.
double FromDigits(const std::vector<int>& digits, int exponent) {
    double mantissa = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        mantissa = (mantissa + *it) / 10.0;
    }
    return mantissa * std::pow(10.0, exponent);
}

// The v60 channel records before the clock dates them: [daily|monthly][pipeline][quantity].
struct Channels {
    std::array<std::array<std::array<Bytes, 5>, 3>, 2> values{};
    bool any = false;
};

void ApplyChannels(const Channels& channels, const Date& clock, Archive& archive) {
    for (int kind = 0; kind < 2; ++kind) {
        const int slots = kind == 0 ? kDailySlots : kMonthlySlots;
        for (int i = 0; i < slots; ++i) {
            Date date;
            if (kind == 0) {
                const Date first = clock.month == 1 ? Date{clock.year - 1, 12, 1}
                                                    : Date{clock.year, clock.month - 1, 1};
                date = i < 31 ? Date{first.year, first.month, i + 1}
                              : Date{clock.year, clock.month, i - 30};
            } else {
                date = {clock.year - 1 + i / 12, i % 12 + 1, 1};
            }
            auto value = [&](int pipe, int quantity) {
                const Bytes bytes = channels.values[kind][pipe][quantity];
                return bytes.size() >= static_cast<std::size_t>(8 * (i + 1))
                           ? DecodeDeviceNumber8(bytes.data() + 8 * i)
                           : 0.0;
            };
            Values v;
            bool present = false;
            for (int p = 0; p < 2; ++p) {
                v.heat[p] = value(p + 1, 0);
                v.mass[p] = value(p + 1, 1);
                v.temperature[p] = value(p + 1, 2);
                v.work[p] = value(p + 1, 3);
                v.pressure[p] = value(p + 1, 4);
                present = present || v.heat[p] != 0 || v.mass[p] != 0 || v.work[p] != 0 ||
                          v.temperature[p] != 0 || v.pressure[p] != 0;
            }
            v.on = value(0, 0);
            present = present || v.on != 0;
            v.length = kind == 0 ? 24.0 : 24.0 * DaysInMonth(date.year, date.month);
            if (present && IsValidDate(date)) {
                (kind == 0 ? archive.days : archive.months)[date] = v;
            }
        }
    }
}

// A single that is NaN or infinite is a damaged record: its day shows as missing rather than
// as "nan" in a report.
bool AllFinite(const Values& v) {
    for (int p = 0; p < kMaxPipelines; ++p) {
        for (double value : {v.heat[p], v.mass[p], v.temperature[p], v.pressure[p], v.work[p]}) {
            if (!std::isfinite(value)) {
                return false;
            }
        }
    }
    return std::isfinite(v.on);
}

// Four pipelines of six singles: heat, mass, temperature, pressure, operating and fault hours.
Values ListRecordValues(Bytes data, double length) {
    Values v;
    for (int p = 0; p < kMaxPipelines; ++p) {
        const std::uint8_t* at = data.data() + 24 * p;
        v.heat[p] = FloatLe(at);
        v.mass[p] = FloatLe(at + 4);
        v.temperature[p] = FloatLe(at + 8);
        v.pressure[p] = FloatLe(at + 12);
        v.work[p] = FloatLe(at + 16);
        v.on = std::max(v.on, v.work[p]);
    }
    v.length = length;
    return v;
}

void AddDay180(Bytes data, Archive& archive) {
    const Date date{2000 + data[2], data[1], data[0]};
    if (!IsValidDate(date)) {
        return;
    }
    Values v;
    for (int p = 0; p < kMaxPipelines; ++p) {
        const std::uint8_t* at = data.data() + 4 + 16 * p;
        v.heat[p] = FloatLe(at);
        v.mass[p] = FloatLe(at + 4);
        v.temperature[p] = FloatLe(at + 8);
        v.pressure[p] = FloatLe(at + 12);
        v.work[p] = U32Le(data.data() + 72 + 4 * p) / 3600.0;
    }
    v.on = U32Le(data.data() + 68) / 3600.0;
    v.length = 24;
    if (!AllFinite(v)) {
        return;
    }
    archive.days[date] = v;
    archive.pipelines = kMaxPipelines;
}

// Pipelines of an hourly record by its data bytes (checksum included): a version-60 answer
// (57 + 1), the other versions' answer (91 + 1), and the deep archive that keeps 90 of those 91
// answer bytes (90 + 1), all four pipelines still inside. 0 for a size no reader writes.
int HourPipelines(std::size_t dataBytes) {
    switch (dataBytes) {
        case 58:
            return 2;
        case 91:
        case 92:
            return 4;
        default:
            return 0;
    }
}

// `record` is the whole record from its length field on; its last byte is the checksum.
void AddHour(Bytes record, Archive& archive) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < record.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + record[i]);
    }
    const Bytes data = record.substr(8);
    const int pipes = HourPipelines(data.size());
    if (pipes == 0 || sum != record.back()) {
        return;  // a damaged hour shows as missing rather than with wrong numbers
    }
    const Date date{2000 + data[2], data[3], data[4]};
    const int hour = data[5];
    if (!IsValidDate(date) || hour > 23) {
        return;
    }
    const double operating = (data[14] << 8 | data[15]) / 3600.0;
    Values v;
    for (int p = 0; p < pipes; ++p) {
        const std::uint8_t* at = data.data() + 25 + 16 * p;
        v.heat[p] = DecodeDeviceNumber4(at);
        v.mass[p] = DecodeDeviceNumber4(at + 4);
        v.temperature[p] = DecodeDeviceNumber4(at + 8);
        v.pressure[p] = DecodeDeviceNumber4(at + 12);
        v.work[p] = (data[6] >> p & 1) != 0 ? operating : 1.0;
    }
    v.on = operating;
    v.length = 1;
    archive.hours[{date, hour}] = v;
    archive.pipelines = std::max(archive.pipelines, pipes);
}

}  // namespace

bool IsValidDate(const Date& d) {
    return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= DaysInMonth(d.year, d.month);
}

Date NextDay(const Date& d) {
    if (d.day < DaysInMonth(d.year, d.month)) {
        return {d.year, d.month, d.day + 1};
    }
    return d.month == 12 ? Date{d.year + 1, 1, 1} : Date{d.year, d.month + 1, 1};
}

Date PreviousDay(const Date& d) {
    if (d.day > 1) {
        return {d.year, d.month, d.day - 1};
    }
    const Date prev = d.month == 1 ? Date{d.year - 1, 12, 1} : Date{d.year, d.month - 1, 1};
    return {prev.year, prev.month, DaysInMonth(prev.year, prev.month)};
}

double DecodeDeviceNumber4(const std::uint8_t* b) {
    std::uint32_t low = b[0] | b[1] << 8 | static_cast<std::uint32_t>(b[2]) << 16;
    const bool negative = b[2] > 9;
    if (negative) {
        low = 0x99999Au - low;
    }
    if (low == 0 && b[3] == 0) {
        return 0;
    }
    const int d0 = static_cast<int>(low >> 16 & 0x0F);
    const std::vector<int> digits{d0, static_cast<int>(low >> 12 & 0xF),
                                  static_cast<int>(low >> 8 & 0xF),
                                  static_cast<int>(low >> 4 & 0xF), static_cast<int>(low & 0xF)};
    const double value = FromDigits(digits, b[3] - 128);
    return negative ? -value : value;
}

double DecodeDeviceNumber8(const std::uint8_t* b) {
    std::uint32_t low = U32Le(b);
    std::uint32_t high = b[4] | b[5] << 8 | static_cast<std::uint32_t>(b[6]) << 16;
    const bool negative = b[6] > 9;
    if (negative) {
        low = 0x9999999Au - low;
        high = 0x999999u - high;
    }
    if (low == 0 && high == 0 && b[7] == 0) {
        return 0;
    }
    const std::vector<int> digits{
        static_cast<int>(high >> 16 & 0xF), static_cast<int>(high >> 12 & 0xF),
        static_cast<int>(high >> 8 & 0xF),  static_cast<int>(high >> 4 & 0xF),
        static_cast<int>(high & 0xF),       static_cast<int>(low >> 28 & 0xF),
        static_cast<int>(low >> 24 & 0xF)};
    const double value = FromDigits(digits, b[7] - 128);
    return negative ? -value : value;
}

namespace {

// What the records say before the clock dates the archives.
struct Collected {
    Archive archive;
    Channels channels;
    std::vector<std::pair<int, Bytes>> listDays, listMonths;
    bool stopped = false;
};

// `record` runs from its length field on.
void Take(Bytes record, Collected& c) {
    Archive& archive = c.archive;
    const Bytes tag = record.substr(3, 5);
    const Bytes data = record.substr(8);
    if (tag[0] == 0xFF && tag[1] == 1 && tag[2] == 0x35) {
        c.stopped = true;
    } else if (tag[0] == 0xE6 && tag[1] == 0 && tag[2] == 0x36 && data.size() >= 6) {
        archive.clock = Date{2000 + Bcd(data[5]), Bcd(data[4]), Bcd(data[3])};
    } else if (tag[0] == 0xE6 && tag[1] == 0 && tag[2] == 0x39 && tag[4] == 0) {
        archive.number = DeviceText(data, 8);
    } else if (tag[0] == 0xE6 && tag[1] == 0 && tag[2] == 0x3D && data.size() > 17) {
        archive.reportDay = data[17];
    } else if (tag[0] == 0xE6 && tag[1] == 0 && tag[2] == 0x3A) {
        archive.address = DeviceText(data, 26);
    } else if ((tag[0] == 0x0B || tag[0] == 0x0C) && tag[3] == 0x29 && tag[2] >= 0x1F &&
               tag[2] <= 0x23 && tag[1] <= 2) {
        c.channels.values[tag[0] - 0x0B][tag[1]][tag[2] - 0x1F] = data;
        c.channels.any = true;
    } else if ((tag[0] == 0x0B || tag[0] == 0x0C) && tag[2] == 0x24 && tag[3] == 0x29 &&
               data.size() >= 96) {
        (tag[0] == 0x0B ? c.listDays : c.listMonths).emplace_back(tag[1], data);
    } else if (tag[0] == 0x0E && tag[2] == 0x24 && data.size() >= 96) {
        AddDay180(data, archive);
    } else if (tag[0] == 0x09 && tag[4] == 1) {
        AddHour(record, archive);
    }
}

// Dates the version-60 channels and the parameter list's days and months from the clock.
void DateArchives(Collected& c) {
    Archive& archive = c.archive;
    const bool needsClock = c.channels.any || !c.listDays.empty() || !c.listMonths.empty();
    if (needsClock && !(archive.clock && IsValidDate(*archive.clock))) {
        throw InputError(std::string(W1251("В файле данных нет верной даты съема.")));
    }
    if (c.channels.any) {
        ApplyChannels(c.channels, *archive.clock, archive);
        archive.pipelines = std::max(archive.pipelines, 2);
    }
    for (const auto& [back, data] : c.listDays) {
        Date day = PreviousDay(*archive.clock);
        for (int i = 0; i < back; ++i) {
            day = PreviousDay(day);
        }
        if (const Values v = ListRecordValues(data, 24); AllFinite(v)) {
            archive.days[day] = v;
        }
        archive.pipelines = kMaxPipelines;
    }
    for (const auto& [back, data] : c.listMonths) {
        const int index = archive.clock->year * 12 + archive.clock->month - 2 - back;
        const Date month{index / 12, index % 12 + 1, 1};
        const Values v = ListRecordValues(data, 24.0 * DaysInMonth(month.year, month.month));
        if (AllFinite(v)) {
            archive.months[month] = v;
        }
        archive.pipelines = kMaxPipelines;
    }
}

}  // namespace

Archive ParseDataFile(std::string_view text) {
    const Bytes bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    Collected collected;
    std::size_t pos = 0;
    while (pos < bytes.size() && !collected.stopped) {
        if (bytes.size() - pos < 2 ||
            bytes.size() - pos - 2 < static_cast<std::size_t>(bytes[pos] << 8 | bytes[pos + 1])) {
            throw InputError(std::string(W1251("Файл данных поврежден: запись по смещению ")) +
                             std::to_string(pos) + std::string(W1251(" обрывается.")));
        }
        const std::size_t length = bytes[pos] << 8 | bytes[pos + 1];
        const Bytes record = bytes.substr(pos, length + 2);
        pos += length + 2;
        if (length >= 6 && record[2] == 5) {  // not the filler record
            Take(record, collected);
        }
    }
    if (!collected.stopped) {
        throw InputError(std::string(W1251("Файл данных неполон: нет записи конца файла.")));
    }
    DateArchives(collected);
    return std::move(collected.archive);
}

}  // namespace builder
