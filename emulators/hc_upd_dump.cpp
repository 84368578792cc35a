#include "emulators/hc_upd_dump.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "emulators/hc_archive.h"
#include "emulators/hc_device.h"
#include "emulators/hc_memory_map.h"

namespace emulators {

namespace {

using Tag = std::array<std::uint8_t, 5>;

constexpr Tag kStartTag{0xFF, 0x00, 0x35, 0x41, 0x00};
constexpr Tag kStopTag{0xFF, 0x01, 0x35, 0x41, 0x00};
constexpr Tag kClockTag{0xE6, 0x00, 0x36, 0x11, 0x00};
constexpr Tag kIdentityTag{0xE6, 0x00, 0x39, 0x40, 0x00};
constexpr Tag kAddressTag{0xE6, 0x00, 0x3A, 0x40, 0x00};
constexpr Tag kSettingsTag{0xE6, 0x00, 0x3D, 0x20, 0x00};
constexpr Tag kPipeline1Tag{0xE6, 0x01, 0x3D, 0x26, 0x00};
constexpr Tag kPipeline2Tag{0xE6, 0x02, 0x3D, 0x26, 0x00};
constexpr std::string_view kStartStopText = "005-001-001";

constexpr std::pair<DumpPart, std::string_view> kPartNames[] = {
    {DumpPart::Start, "start"},         {DumpPart::Clock, "clock"},
    {DumpPart::Identity, "identity"},   {DumpPart::Address, "address"},
    {DumpPart::Settings, "settings"},   {DumpPart::Pipeline1, "pipeline1"},
    {DumpPart::Pipeline2, "pipeline2"}, {DumpPart::Hourly, "hourly"},
    {DumpPart::Daily, "daily"},         {DumpPart::Monthly, "monthly"},
    {DumpPart::Stop, "stop"},
};

Tag IndexedTag(std::uint8_t kind, unsigned index) {
    return {kind, 0, static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index), 0};
}

const PlacedField* FindField(const HcDevice& device, std::uint8_t group, std::uint8_t subgroup,
                             std::uint8_t field) {
    for (const PlacedField& placed : device.Layout().fields) {
        if (placed.group == group && placed.subgroup == subgroup && placed.field == field) {
            return &placed;
        }
    }
    return nullptr;
}

// The field's current bytes in the device's memory.
ByteVector FieldBytes(const HcDevice& device, const PlacedField& placed) {
    ByteVector bytes;
    for (unsigned i = 0; i < placed.size; ++i) {
        bytes.push_back(device.Peek(static_cast<std::uint16_t>(placed.data + i)));
    }
    return bytes;
}

ByteVector FieldBytes(const HcDevice& device, std::uint8_t group, std::uint8_t subgroup,
                      std::uint8_t field) {
    const PlacedField* placed = FindField(device, group, subgroup, field);
    if (placed == nullptr) {
        throw std::logic_error("dump: the device has no field " + std::to_string(group) + "/" +
                               std::to_string(subgroup) + "/" + std::to_string(field));
    }
    return FieldBytes(device, *placed);
}

// Field 31 when the device has it, as a reader chooses.
ByteVector PreferredField(const HcDevice& device, std::uint8_t group, std::uint8_t subgroup) {
    const PlacedField* placed = FindField(device, group, subgroup, 31);
    return placed != nullptr ? FieldBytes(device, *placed)
                             : FieldBytes(device, group, subgroup, 30);
}

ByteVector ClockData(std::int64_t now, bool withYear) {
    const auto t = static_cast<std::time_t>(now);
    std::tm tm{};
    gmtime_r(&t, &tm);
    ByteVector data{static_cast<std::uint8_t>(tm.tm_sec), static_cast<std::uint8_t>(tm.tm_min),
                    static_cast<std::uint8_t>(tm.tm_hour), static_cast<std::uint8_t>(tm.tm_mday),
                    static_cast<std::uint8_t>(tm.tm_mon + 1)};
    if (withYear) {
        data.push_back(static_cast<std::uint8_t>(tm.tm_year % 100));
    }
    return data;
}

void Append(ByteVector& out, const ByteVector& record) {
    out.insert(out.end(), record.begin(), record.end());
}

void AppendDays(ByteVector& out, const HcDevice& device, const Personality& personality) {
    const HcConfig& config = device.Config();
    const std::int64_t now = device.DeviceTime();
    const std::int64_t today = DayNumberAt(now);
    for (unsigned back = 0; back < personality.dailyDepthDays; ++back) {
        if (!HoldsDay(config, personality, now, today - back)) {
            continue;
        }
        const ByteVector answer =
            PeriodAnswer60(MakeDayRecord(config.seed, today - back), kDailyRecordType);
        Append(out, MakeRecord(IndexedTag(kDumpDayTag, back),
                               ByteVector(answer.begin() + 1, answer.end())));
    }
}

void AppendMonths(ByteVector& out, const HcDevice& device, const Personality& personality) {
    const HcConfig& config = device.Config();
    const std::int64_t now = device.DeviceTime();
    const std::int64_t today = DayNumberAt(now);
    CivilDate month = DateOfDay(today);
    month.day = 1;
    for (unsigned back = 0; back < personality.monthlyDepthMonths; ++back) {
        if (HoldsMonth(config, personality, now, month.year, month.month)) {
            const ByteVector answer =
                PeriodAnswer60(MakeMonthRecord(config.seed, month, today), kMonthlyRecordType);
            Append(out, MakeRecord(IndexedTag(kDumpMonthTag, back),
                                   ByteVector(answer.begin() + 1, answer.end())));
        }
        if (--month.month == 0) {
            month.month = 12;
            --month.year;
        }
    }
}

std::uint8_t PaddingByte(DumpPadding padding) {
    return padding == DumpPadding::Ff ? 0xFF : 0x00;
}

// What arrives of the records: whole blocks, the last one filled, less the blocks lost on the
// way, cut where asked.
ByteVector Delivered(ByteVector out, const UpdDumpOptions& options) {
    const std::uint8_t fill = PaddingByte(options.padding);
    if (options.padding != DumpPadding::None && out.size() % kUpdBlockSize != 0) {
        out.resize(out.size() + kUpdBlockSize - out.size() % kUpdBlockSize, fill);
    }
    if (options.padTo > out.size()) {
        out.resize(options.padTo, fill);
    }
    std::vector<std::size_t> lost = options.lostBlocks;
    std::sort(lost.begin(), lost.end(), std::greater<>());
    lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
    for (const std::size_t block : lost) {
        if (block == 0 || (block - 1) * kUpdBlockSize >= out.size()) {
            continue;
        }
        const std::size_t from = (block - 1) * kUpdBlockSize;
        const std::size_t to = std::min(from + kUpdBlockSize, out.size());
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(from),
                  out.begin() + static_cast<std::ptrdiff_t>(to));
    }
    if (options.truncateAt && *options.truncateAt < out.size()) {
        out.resize(*options.truncateAt);
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> MakeUpdDump(const HcDevice& device, const UpdDumpOptions& options) {
    const HcConfig& config = device.Config();
    const Personality* personality = FindPersonality(config.version);
    if (personality == nullptr || personality->dailyArchive != DailyArchive::Records55) {
        throw std::invalid_argument("dump: only a version-60 device can be dumped, not version " +
                                    std::to_string(config.version));
    }
    auto wanted = [&](DumpPart part) {
        return std::find(options.drop.begin(), options.drop.end(), part) == options.drop.end();
    };
    const std::int64_t now = device.DeviceTime();
    const ByteVector startStopText(kStartStopText.begin(), kStartStopText.end());

    ByteVector out;
    if (wanted(DumpPart::Start)) {
        Append(out, MakeRecord(kStartTag, startStopText));
    }
    if (wanted(DumpPart::Clock)) {
        Append(out, MakeRecord(kClockTag, ClockData(now, !options.clockWithoutYear)));
    }
    if (wanted(DumpPart::Identity)) {
        Append(out, MakeRecord(kIdentityTag, FieldBytes(device, 101, 0, 57)));
    }
    if (wanted(DumpPart::Address)) {
        Append(out, MakeRecord(kAddressTag, FieldBytes(device, 101, 0, 58)));
    }
    if (wanted(DumpPart::Settings)) {
        ByteVector settings = PreferredField(device, 101, 0);
        if (options.versionByte && settings.size() > 14) {
            settings[14] = *options.versionByte;
        }
        Append(out, MakeRecord(kSettingsTag, settings));
    }
    if (wanted(DumpPart::Pipeline1)) {
        Append(out, MakeRecord(kPipeline1Tag, PreferredField(device, 230, 1)));
    }
    if (wanted(DumpPart::Pipeline2)) {
        Append(out, MakeRecord(kPipeline2Tag, PreferredField(device, 230, 2)));
    }
    if (wanted(DumpPart::Hourly)) {
        if (const auto newest = NewestHour(config, now)) {
            for (unsigned k = 0; k < config.hourlyRecords; ++k) {
                const HourRecord record = MakeHourRecord(config.seed, *newest - k);
                Append(out, HourDumpRecord(record, static_cast<std::uint16_t>(k)));
            }
        }
    }
    if (wanted(DumpPart::Daily)) {
        AppendDays(out, device, *personality);
    }
    if (wanted(DumpPart::Monthly)) {
        AppendMonths(out, device, *personality);
    }
    if (wanted(DumpPart::Stop)) {
        Append(out, MakeRecord(kStopTag, startStopText));
    }
    return Delivered(std::move(out), options);
}

void WriteUpdDump(const HcDevice& device, const std::string& path, const UpdDumpOptions& options) {
    const ByteVector bytes = MakeUpdDump(device, options);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write the dump file " + path);
    }
}

std::optional<DumpPart> DumpPartByName(std::string_view name) {
    for (const auto& [part, partName] : kPartNames) {
        if (partName == name) {
            return part;
        }
    }
    return std::nullopt;
}

std::optional<DumpPadding> DumpPaddingByName(std::string_view name) {
    if (name == "zero") {
        return DumpPadding::Zero;
    }
    if (name == "ff") {
        return DumpPadding::Ff;
    }
    if (name == "none") {
        return DumpPadding::None;
    }
    return std::nullopt;
}

std::string DumpPartNames() {
    std::string names;
    for (const auto& [part, partName] : kPartNames) {
        names += (names.empty() ? "" : ", ") + std::string(partName);
    }
    return names;
}

}  // namespace emulators
