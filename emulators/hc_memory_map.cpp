#include "emulators/hc_memory_map.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "emulators/hc_commands.h"
#include "emulators/hc_device.h"
#include "emulators/hc_values.h"

namespace emulators {

namespace {

// ---- Field contents --------------------------------------------------------------------------

// (101,0,30): general settings, one byte per element. Element 5 is the firmware version the
// workstation detects; element 20 the energy unit (0 = GJ, 1 = Gcal).
std::vector<std::uint8_t> GeneralSettings(const HcConfig& config) {
    std::vector<std::uint8_t> bytes(24, 0);
    bytes[0] = 4;  // pipelines
    bytes[1] = config.address;
    bytes[2] = 62;  // daily archive depth, days
    bytes[3] = 24;  // monthly archive depth, months
    bytes[4] = static_cast<std::uint8_t>(config.version);
    bytes[19] = 0;  // energy unit: GJ
    return bytes;
}

std::string ThreeDigits(unsigned value) {
    std::string text = std::to_string(value % 1000);
    return std::string(3 - text.size(), '0') + text;
}

// (101,0,57): identity text "NNNNN-VVV-AAA" (factory number, version, address), zero padded.
std::vector<std::uint8_t> Identity(const HcConfig& config) {
    const std::string text = FactoryNumber(config.seed) + "-" +
                             ThreeDigits(static_cast<unsigned>(config.version)) + "-" +
                             ThreeDigits(config.address);
    std::vector<std::uint8_t> bytes(16, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

// (101,0,58): where the device is installed, code page 866, zero terminated.
std::vector<std::uint8_t> InstallationAddress(const HcConfig& config) {
    const std::string number = std::to_string(config.address);
    std::string text = Utf8ToCp866("Котельная №" + number + ", ул. Заводская 12");
    if (text.size() > 31) {
        text = Utf8ToCp866("Котельная №" + number + ", Заводская 12");
    }
    std::vector<std::uint8_t> bytes(32, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

// (101,0,40): metering settings, 32 words, high byte first.
std::vector<std::uint8_t> MeteringSettings(const HcConfig& config) {
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

// (230,p,30): per-pipeline parameters, 8 little-endian floats.
std::vector<std::uint8_t> PipelineParameters(const HcConfig& config, unsigned pipeline) {
    const double f = SeedFraction(config.seed, 200 + pipeline);
    const float diameter = pipeline == 1 ? 80.0f : 50.0f;
    const float values[8] = {
        diameter,                                         // pipe diameter, mm
        static_cast<float>(diameter * 0.15),              // maximum flow, t/h
        static_cast<float>(diameter * 0.003),             // minimum flow, t/h
        pipeline == 1 ? 10.0f : 1.0f,                     // pulse weight, l
        100.0f,                                           // temperature sensor R0, ohm
        static_cast<float>(0.1 * (f - 0.5)),              // temperature correction, °C
        1.6f,                                             // pressure sensor range, MPa
        static_cast<float>(pipeline == 1 ? 95.0 : 70.0),  // contract temperature, °C
    };
    std::vector<std::uint8_t> bytes;
    bytes.reserve(32);
    for (float v : values) {
        AppendFloatLe(bytes, v);
    }
    return bytes;
}

std::vector<std::uint8_t> Pipeline1Parameters(const HcConfig& config) {
    return PipelineParameters(config, 1);
}

std::vector<std::uint8_t> Pipeline2Parameters(const HcConfig& config) {
    return PipelineParameters(config, 2);
}

// ---- Personalities ---------------------------------------------------------------------------

constexpr FieldSpec kParameterListFields[] = {
    {101, 0, 30, ElementType::Bytes, DataPlacement::InEntryShort, GeneralSettings},
    {101, 0, 57, ElementType::Bytes, DataPlacement::InEntryLong, Identity},
    {101, 0, 58, ElementType::Bytes, DataPlacement::Separate, InstallationAddress},
    {101, 0, 40, ElementType::Words, DataPlacement::Separate, MeteringSettings},
    {230, 1, 30, ElementType::Bytes, DataPlacement::InEntryShort, Pipeline1Parameters},
    {230, 2, 30, ElementType::Bytes, DataPlacement::InEntryLong, Pipeline2Parameters},
};

constexpr std::uint8_t kParameterListCommands[] = {
    kCommandClock,
    kCommandCurrentValues,
    kCommandArchivePage,
    kCommandIdentity,
};

// Versions 60 and 53 join this table with their own fields and archive commands.
const Personality kPersonalities[] = {
    {kParameterListVersion, kParameterListFields, kParameterListCommands},
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

std::vector<GroupOfFields> GroupsInOrder(std::span<const FieldSpec> fields) {
    std::vector<GroupOfFields> groups;
    for (const FieldSpec& spec : fields) {
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

// A reader of the 40-byte table takes the first offset where the pair appears, so each pair
// must appear exactly once.
void CheckListGroupTable(const ImageWriter& image, const std::vector<GroupOfFields>& groups) {
    for (const GroupOfFields& g : groups) {
        int hits = 0;
        for (std::uint32_t offset = 0; offset + 1 < kListGroupTableSize; ++offset) {
            if (image.At(kListGroupTableAddress + offset) == g.group &&
                image.At(kListGroupTableAddress + offset + 1) == g.subgroup) {
                ++hits;
            }
        }
        Require(hits == 1, "group pair " + std::to_string(g.group) + "/" +
                               std::to_string(g.subgroup) + " is ambiguous in the 40-byte table");
    }
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
    layout.listGroupTable = kListGroupTableAddress;

    const std::vector<GroupOfFields> groups = GroupsInOrder(personality.fields);
    Require((groups.size() + 1) * 8 <= kListGroupTableAddress - kGroupTableAddress,
            "too many groups for the group table");
    Require(groups.size() * 8 <= kListGroupTableSize, "too many groups for the 40-byte table");

    std::uint32_t entryCursor = kFieldEntriesAddress;
    std::uint32_t dataCursor = kSeparateDataAddress;
    std::uint32_t listCursor = kListEntriesAddress;

    for (std::size_t g = 0; g < groups.size(); ++g) {
        const GroupOfFields& group = groups[g];
        std::vector<std::uint32_t> entries, nextPointers, listEntries;
        for (const FieldSpec* spec : group.fields) {
            const std::vector<std::uint8_t> content = spec->content(config);
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
                    Require(dataCursor <= kListEntriesAddress, "separate data region is full");
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

            const std::uint32_t listEntry = listCursor;
            listCursor += 9;
            Require(listCursor <= kCommandArea, "parameter-list entry region is full");
            image.Byte(listEntry, spec->field);
            image.Byte(listEntry + 1, 0);
            image.Byte(listEntry + 4, 0);
            image.WordHighFirst(listEntry + 5, data);
            image.Byte(listEntry + 7, 0);
            image.Byte(listEntry + 8, static_cast<std::uint8_t>(size));

            entries.push_back(entry);
            nextPointers.push_back(end);
            listEntries.push_back(listEntry);
            layout.fields.push_back(
                {spec->group, spec->subgroup, spec->field, spec->placement,
                 static_cast<std::uint16_t>(entry), static_cast<std::uint16_t>(listEntry),
                 static_cast<std::uint16_t>(data), static_cast<std::uint16_t>(size)});
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const bool last = i + 1 == entries.size();
            image.WordHighFirst(nextPointers[i], last ? 0 : entries[i + 1]);
            image.WordHighFirst(listEntries[i] + 2, last ? 0 : listEntries[i + 1]);
        }

        const std::uint32_t row = kGroupTableAddress + 8 * static_cast<std::uint32_t>(g);
        image.Byte(row, group.group);
        image.Byte(row + 1, group.subgroup);
        image.WordHighFirst(row + 2, entries.front());
        const std::uint32_t listRow = kListGroupTableAddress + 8 * static_cast<std::uint32_t>(g);
        image.Byte(listRow, group.group);
        image.Byte(listRow + 1, group.subgroup);
        image.WordHighFirst(listRow + 2, listEntries.front());
    }

    const std::uint32_t end = kGroupTableAddress + 8 * static_cast<std::uint32_t>(groups.size());
    for (std::uint32_t i = 0; i < 8; ++i) {
        image.Byte(end + i, 0xFF);
    }
    for (std::uint32_t i = 8 * static_cast<std::uint32_t>(groups.size()); i < kListGroupTableSize;
         ++i) {
        image.Byte(kListGroupTableAddress + i, 0xFF);
    }
    CheckListGroupTable(image, groups);

    image.WordLowFirst(kDeviceDirectoryRoot, kGroupTableAddress);
    image.WordLowFirst(kParameterListRoot, kListGroupTableAddress);
    return layout;
}

}  // namespace emulators
