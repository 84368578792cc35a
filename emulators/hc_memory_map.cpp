#include "emulators/hc_memory_map.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "emulators/hc_archive.h"
#include "emulators/hc_commands.h"
#include "emulators/hc_device.h"
#include "emulators/hc_values.h"

namespace emulators {

namespace {

// ---- Field contents --------------------------------------------------------------------------

// (101,0,30) and (101,0,31): general settings, one byte per element. Element 15 is the firmware
// version the workstation detects, element 18 the reporting day, element 20 the energy unit
// (0 = GJ, 1 = Gcal). No other byte may equal an emulated version, or a version line naming
// another element would match; that is why the device address is not kept here.
std::vector<std::uint8_t> GeneralSettingsCopy(const HcConfig& config,
                                              const Personality& personality, unsigned copy) {
    std::vector<std::uint8_t> bytes(24, 0);
    bytes[0] = static_cast<std::uint8_t>(personality.pipelines);
    bytes[1] = 1;  // hourly archive interval, h
    bytes[2] = static_cast<std::uint8_t>(personality.dailyDepthDays);
    bytes[3] = static_cast<std::uint8_t>(personality.monthlyDepthMonths);
    bytes[5] = copy == 1 ? 5 : 8;  // cold water temperature, °C
    bytes[14] = static_cast<std::uint8_t>(personality.version);
    bytes[17] = config.reportDay;
    bytes[19] = config.energyUnit;                // energy unit: 0 GJ, 1 Gcal
    bytes[23] = static_cast<std::uint8_t>(copy);  // which copy of the settings this is
    return bytes;
}

std::vector<std::uint8_t> GeneralSettings(const HcConfig& config, const Personality& personality) {
    return GeneralSettingsCopy(config, personality, 1);
}

std::vector<std::uint8_t> GeneralSettings31(const HcConfig& config,
                                            const Personality& personality) {
    return GeneralSettingsCopy(config, personality, 2);
}

std::string ThreeDigits(unsigned value) {
    std::string text = std::to_string(value % 1000);
    return std::string(3 - text.size(), '0') + text;
}

// (101,0,57): identity text "NNNNN-VVV-AAA" (factory number, version, address), zero padded.
std::vector<std::uint8_t> Identity(const HcConfig& config, const Personality& personality) {
    const std::string text = FactoryNumber(config.seed) + "-" +
                             ThreeDigits(static_cast<unsigned>(personality.version)) + "-" +
                             ThreeDigits(config.address);
    std::vector<std::uint8_t> bytes(16, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

// (101,0,58): where the device is installed, in the personality's code page, zero terminated.
std::vector<std::uint8_t> InstallationAddress(const HcConfig& config,
                                              const Personality& personality) {
    auto encode =
        personality.textEncoding == TextEncoding::Windows1251 ? Utf8ToCp1251 : Utf8ToCp866;
    const std::string number = std::to_string(config.address);
    std::string text = encode("Котельная №" + number + ", ул. Заводская 12");
    if (text.size() > 31) {
        text = encode("Котельная №" + number + ", Заводская 12");
    }
    std::vector<std::uint8_t> bytes(32, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

// (101,0,40): metering settings, 32 words, high byte first.
std::vector<std::uint8_t> MeteringSettings(const HcConfig& config, const Personality&) {
    std::vector<std::uint16_t> words;
    // address, line speed / 100, pipelines, hourly archive interval (min)
    words.insert(words.end(), {config.address, 96, 4, 60});
    words.insert(words.end(), {80, 80, 50, 40});        // pipe diameters, mm
    words.insert(words.end(), {10, 10, 1, 1});          // pulse weights, l
    words.insert(words.end(), {1200, 1200, 600, 300});  // maximum flows, 0.01 t/h
    words.insert(words.end(), {50, 100});               // cold water: 0.1 °C, kPa
    words.resize(32, 0);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(64);
    for (std::uint16_t word : words) {
        bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    return bytes;
}

// (230,p,30) and (230,p,31): per-pipeline parameters, 8 little-endian floats. Field 31 holds
// the pipeline as refitted (wider pipe, other sensor correction), so every float differs.
std::vector<std::uint8_t> PipelineParameters(const HcConfig& config, unsigned pipeline,
                                             bool refitted) {
    const double f = SeedFraction(config.seed, 200 + pipeline + (refitted ? 10 : 0));
    const float diameter = (pipeline == 1 ? 80.0f : 50.0f) + (refitted ? 20.0f : 0.0f);
    const float values[8] = {
        diameter,                                             // pipe diameter, mm
        static_cast<float>(diameter * 0.15),                  // maximum flow, t/h
        static_cast<float>(diameter * 0.003),                 // minimum flow, t/h
        (pipeline == 1 ? 10.0f : 1.0f) * (refitted ? 2 : 1),  // pulse weight, l
        refitted ? 500.0f : 100.0f,                           // temperature sensor R0, ohm
        static_cast<float>(0.1 * (f - 0.5)),                  // temperature correction, °C
        refitted ? 2.5f : 1.6f,                               // pressure sensor range, MPa
        static_cast<float>((pipeline == 1 ? 95.0 : 70.0) - (refitted ? 5 : 0)),  // contract °C
    };
    std::vector<std::uint8_t> bytes;
    bytes.reserve(32);
    for (float v : values) {
        AppendFloatLe(bytes, v);
    }
    return bytes;
}

std::vector<std::uint8_t> Pipeline1Parameters(const HcConfig& config, const Personality&) {
    return PipelineParameters(config, 1, false);
}

std::vector<std::uint8_t> Pipeline2Parameters(const HcConfig& config, const Personality&) {
    return PipelineParameters(config, 2, false);
}

std::vector<std::uint8_t> Pipeline1Parameters31(const HcConfig& config, const Personality&) {
    return PipelineParameters(config, 1, true);
}

std::vector<std::uint8_t> Pipeline2Parameters31(const HcConfig& config, const Personality&) {
    return PipelineParameters(config, 2, true);
}

// ---- Personalities ---------------------------------------------------------------------------

using enum DataPlacement;

// Version 45, read through a parameter-list file.
constexpr FieldSpec kParameterListFields[] = {
    {101, 0, 30, ElementType::Bytes, InEntryShort, GeneralSettings, false},
    {101, 0, 57, ElementType::Bytes, InEntryLong, Identity, false},
    {101, 0, 58, ElementType::Bytes, Separate, InstallationAddress, false},
    {101, 0, 40, ElementType::Words, Separate, MeteringSettings, false},
    {230, 1, 30, ElementType::Bytes, InEntryShort, Pipeline1Parameters, false},
    {230, 2, 30, ElementType::Bytes, InEntryLong, Pipeline2Parameters, false},
};

constexpr std::uint8_t kParameterListCommands[] = {
    kCommandClock,     kCommandCurrentValues, kCommandArchivePage, kCommandIdentity,
    kCommandHourFirst, kCommandHourNext,      kCommandHourAt,
};

// Version 53: the 180-day archive beside the archive pages that version 45 has.
constexpr FieldSpec kDays180Fields[] = {
    {101, 0, 30, ElementType::Bytes, InEntryShort, GeneralSettings, false},
    {101, 0, 57, ElementType::Bytes, InEntryLong, Identity, false},
    {101, 0, 58, ElementType::Bytes, Separate, InstallationAddress, false},
    {230, 1, 30, ElementType::Bytes, InEntryLong, Pipeline1Parameters, false},
    {230, 2, 30, ElementType::Bytes, Separate, Pipeline2Parameters, false},
};

constexpr std::uint8_t kDays180Commands[] = {
    kCommandClock, kCommandCurrentValues, kCommandArchivePage, kCommandIdentity,
    kCommandDay,   kCommandHourFirst,     kCommandHourNext,    kCommandHourAt,
};

// Version 60, two pipelines, daily and monthly records; field 31 only on request.
constexpr FieldSpec kTwoPipelineFields[] = {
    {101, 0, 30, ElementType::Bytes, InEntryLong, GeneralSettings, false},
    {101, 0, 31, ElementType::Bytes, InEntryShort, GeneralSettings31, true},
    {101, 0, 57, ElementType::Bytes, Separate, Identity, false},
    {101, 0, 58, ElementType::Bytes, InEntryLong, InstallationAddress, false},
    {230, 1, 30, ElementType::Bytes, Separate, Pipeline1Parameters, false},
    {230, 1, 31, ElementType::Bytes, InEntryShort, Pipeline1Parameters31, true},
    {230, 2, 30, ElementType::Bytes, InEntryShort, Pipeline2Parameters, false},
    {230, 2, 31, ElementType::Bytes, Separate, Pipeline2Parameters31, true},
};

constexpr std::uint8_t kTwoPipelineCommands[] = {
    kCommandClock, kCommandCurrentValues, kCommandIdentity, kCommandDay,
    kCommandMonth, kCommandHourFirst,     kCommandHourNext, kCommandHourAt,
};

const Personality kPersonalities[] = {
    {kParameterListVersion, kParameterListFields, kParameterListCommands, TextEncoding::Cp866, 4,
     DailyArchive::None, kHourAnswerSizeWide, 62, 24},
    {kDays180Version, kDays180Fields, kDays180Commands, TextEncoding::Cp866, 4,
     DailyArchive::Archive180, kHourAnswerSizeWide, 180, 24},
    {kTwoPipelineVersion, kTwoPipelineFields, kTwoPipelineCommands, TextEncoding::Windows1251, 2,
     DailyArchive::Records55, kHourAnswerSize60, 70, 26},
};

// ---- Image builder ---------------------------------------------------------------------------

class ImageWriter {
  public:
    explicit ImageWriter(std::span<std::uint8_t> memory) : memory_(memory) {}

    void Byte(std::uint32_t address, std::uint8_t value) { memory_[address & 0xFFFF] = value; }
    void WordHighFirst(std::uint32_t address, std::uint32_t value) {
        Byte(address, static_cast<std::uint8_t>(value >> 8));
        Byte(address + 1, static_cast<std::uint8_t>(value));
    }
    void WordLowFirst(std::uint32_t address, std::uint32_t value) {
        Byte(address, static_cast<std::uint8_t>(value));
        Byte(address + 1, static_cast<std::uint8_t>(value >> 8));
    }
    void Bytes(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            Byte(address + static_cast<std::uint32_t>(i), bytes[i]);
        }
    }
    std::uint8_t At(std::uint32_t address) const { return memory_[address & 0xFFFF]; }

  private:
    std::span<std::uint8_t> memory_;
};

void Require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::logic_error("heat calculator memory image: " + what);
    }
}

struct GroupOfFields {
    std::uint8_t group;
    std::uint8_t subgroup;
    std::vector<const FieldSpec*> fields;
};

std::vector<GroupOfFields> GroupsInOrder(std::span<const FieldSpec> fields,
                                         const HcConfig& config) {
    std::vector<GroupOfFields> groups;
    for (const FieldSpec& spec : fields) {
        if (spec.onlyWithField31 && !config.field31) {
            continue;
        }
        auto it = std::find_if(groups.begin(), groups.end(), [&](const GroupOfFields& g) {
            return g.group == spec.group && g.subgroup == spec.subgroup;
        });
        if (it == groups.end()) {
            groups.push_back({spec.group, spec.subgroup, {}});
            it = groups.end() - 1;
        }
        it->fields.push_back(&spec);
    }
    return groups;
}

}  // namespace

const Personality* FindPersonality(int version) {
    for (const Personality& p : kPersonalities) {
        if (p.version == version) {
            return &p;
        }
    }
    return nullptr;
}

std::vector<int> SupportedVersions() {
    std::vector<int> versions;
    for (const Personality& p : kPersonalities) {
        versions.push_back(p.version);
    }
    return versions;
}

MemoryLayout BuildMemoryImage(const Personality& personality, const HcConfig& config,
                              std::span<std::uint8_t> memory) {
    Require(memory.size() == 0x10000, "memory must be 64 KiB");
    ImageWriter image(memory);
    MemoryLayout layout;
    layout.groupTable = kGroupTableAddress;

    const std::vector<GroupOfFields> groups = GroupsInOrder(personality.fields, config);
    Require((groups.size() + 1) * 8 <= kFieldEntriesAddress - kGroupTableAddress,
            "too many groups for the group table");

    std::uint32_t entryCursor = kFieldEntriesAddress;
    std::uint32_t dataCursor = kSeparateDataAddress;

    for (std::size_t g = 0; g < groups.size(); ++g) {
        const GroupOfFields& group = groups[g];
        std::vector<std::uint32_t> entries, nextPointers;
        for (const FieldSpec* spec : group.fields) {
            const std::vector<std::uint8_t> content = spec->content(config, personality);
            Require(!content.empty() && content.size() <= 255, "field size must be 1..255");
            const auto size = static_cast<std::uint32_t>(content.size());
            const std::uint32_t entry = entryCursor;
            std::uint8_t flags = spec->elements == ElementType::Words ? 0x02 : 0x00;
            std::uint32_t end = 0;
            std::uint32_t data = 0;
            switch (spec->placement) {
                case DataPlacement::InEntryShort:
                    data = entry + 4;
                    end = data + size;
                    break;
                case DataPlacement::InEntryLong:
                    flags |= 0x80;
                    image.Byte(entry + 4, 0x00);
                    data = entry + 5;
                    end = data + size;
                    break;
                case DataPlacement::Separate:
                    flags |= 0x80;
                    image.Byte(entry + 4, 0x40);
                    data = dataCursor;
                    dataCursor += size;
                    Require(dataCursor <= kSeparateDataEnd, "separate data region is full");
                    image.WordHighFirst(entry + 5, data);
                    image.WordHighFirst(entry + 7, size);
                    end = entry + 9;
                    break;
            }
            image.Byte(entry, spec->field);
            image.Byte(entry + 1, flags);
            image.WordHighFirst(entry + 2, end);
            image.Bytes(data, content);
            entryCursor = end + 2;  // the next-entry pointer lies at the end address
            Require(entryCursor <= kSeparateDataAddress, "field entry region is full");

            entries.push_back(entry);
            nextPointers.push_back(end);
            layout.fields.push_back({spec->group, spec->subgroup, spec->field, spec->placement,
                                     static_cast<std::uint16_t>(entry),
                                     static_cast<std::uint16_t>(data),
                                     static_cast<std::uint16_t>(size)});
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const bool last = i + 1 == entries.size();
            image.WordHighFirst(nextPointers[i], last ? 0 : entries[i + 1]);
        }

        const std::uint32_t row = kGroupTableAddress + 8 * static_cast<std::uint32_t>(g);
        image.Byte(row, group.group);
        image.Byte(row + 1, group.subgroup);
        image.WordHighFirst(row + 2, entries.front());
    }

    const std::uint32_t end = kGroupTableAddress + 8 * static_cast<std::uint32_t>(groups.size());
    for (std::uint32_t i = 0; i < 8; ++i) {
        image.Byte(end + i, 0xFF);
    }
    image.WordLowFirst(kDeviceDirectoryRoot, kGroupTableAddress);
    return layout;
}

}  // namespace emulators
