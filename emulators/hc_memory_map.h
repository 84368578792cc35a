// The firmware personalities and the memory image they produce: the field table, the device
// directory at 302 that describes the fields, and the field data. docs/emulators.md draws the map.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace emulators {

struct HcConfig;

// How an entry of the directory at 302 says where its data lie.
enum class DataPlacement : std::uint8_t {
    InEntryShort,  // flags bit 7 clear: data follow the entry's first 4 bytes
    InEntryLong,   // flags bit 7 set, layout 00: data follow the entry's first 5 bytes
    Separate,      // flags bit 7 set, layout 01: the entry holds the data address and size
};

enum class ElementType : std::uint8_t {
    Bytes = 0,  // flags bits 3-1 = 000
    Words = 1,  // flags bits 3-1 = 001, high byte first
};

struct Personality;

struct FieldSpec {
    std::uint8_t group;
    std::uint8_t subgroup;
    std::uint8_t field;
    ElementType elements;
    DataPlacement placement;
    // The field's bytes for this device; the size of the result is the field size (1..255).
    std::vector<std::uint8_t> (*content)(const HcConfig& config, const Personality& personality);
    // The field exists only when HcConfig::field31 is set.
    bool onlyWithField31;
};

// Code page of the device's texts (the installation address).
enum class TextEncoding : std::uint8_t { Cp866, Windows1251 };

// What command 34 answers.
enum class DailyArchive : std::uint8_t {
    None,        // no command 34
    Records55,   // 55-byte daily records (and 35 monthly records)
    Archive180,  // 97-byte records of the 180-day archive
};

// What makes one firmware version: its fields, the mailbox commands it knows and its archives.
struct Personality {
    int version;
    std::span<const FieldSpec> fields;
    std::span<const std::uint8_t> commands;
    TextEncoding textEncoding;
    unsigned pipelines;
    DailyArchive dailyArchive;
    unsigned hourlyAnswerSize;    // status byte included: 58 or 92
    unsigned dailyDepthDays;      // today and the days before it that the daily archive holds
    unsigned monthlyDepthMonths;  // the current month and the months before it
};

// nullptr when no personality exists for the version.
const Personality* FindPersonality(int version);
std::vector<int> SupportedVersions();

// Where the image builder put a field.
struct PlacedField {
    std::uint8_t group = 0;
    std::uint8_t subgroup = 0;
    std::uint8_t field = 0;
    DataPlacement placement = DataPlacement::InEntryShort;
    std::uint16_t entry = 0;  // 5-byte entry, directory at 302
    std::uint16_t data = 0;
    std::uint16_t size = 0;
};

struct MemoryLayout {
    std::uint16_t groupTable = 0;  // pointed to from 302
    std::vector<PlacedField> fields;
};

// Regions of the image; everything else reads 0.
inline constexpr std::uint16_t kGroupTableAddress = 0x0200;
inline constexpr std::uint16_t kFieldEntriesAddress = 0x0300;  // up to 0x07FF
inline constexpr std::uint16_t kSeparateDataAddress = 0x0800;
inline constexpr std::uint16_t kSeparateDataEnd = 0x1000;  // the command area follows

// Writes the root, the directory and the field data into `memory` (64 KiB). Throws
// std::logic_error when the field table does not fit its regions.
MemoryLayout BuildMemoryImage(const Personality& personality, const HcConfig& config,
                              std::span<std::uint8_t> memory);

}  // namespace emulators
