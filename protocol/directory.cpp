// The device directory: groups of field entries that say where each field's data lie.
#include <charconv>

#include "platform/text_trim.h"
#include "protocol/directory.h"
#include "protocol/utv540.h"

namespace protocol {
namespace {

constexpr std::uint8_t kEndOfGroups = 0xFF;

std::uint16_t HighFirst(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// A whole decimal number within [low, high], or nothing.
bool ParseNumber(std::string_view text, long low, long high, long& value) {
    text = platform::TrimBlanks(text);
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end && value >= low && value <= high;
}

// "A/B/C/D/E=V1,V2,..." split into the five place numbers and the candidate texts.
struct VersionLine {
    long root = 0;
    long group = 0;
    long subgroup = 0;
    long field = 0;
    long element = 0;
    std::vector<std::string_view> candidates;
};

bool ParseVersionLine(std::string_view line, VersionLine& parsed) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return false;
    }
    std::string_view places = line.substr(0, equals);
    long* targets[5] = {&parsed.root, &parsed.group, &parsed.subgroup, &parsed.field,
                        &parsed.element};
    const long highs[5] = {65535, 255, 255, 255, 65535};
    for (int i = 0; i < 5; ++i) {
        const std::size_t slash = i < 4 ? places.find('/') : places.size();
        if (slash == std::string_view::npos) {
            return false;
        }
        if (!ParseNumber(places.substr(0, slash), i == 4 ? 1 : 0, highs[i], *targets[i])) {
            return false;
        }
        places.remove_prefix(i < 4 ? slash + 1 : slash);
    }
    std::string_view values = line.substr(equals + 1);
    while (true) {
        const std::size_t comma = values.find(',');
        parsed.candidates.push_back(values.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        values.remove_prefix(comma + 1);
    }
    return true;
}

}  // namespace

GroupTable::GroupTable(std::uint16_t root, unsigned maxGroups)
    : root_(root), maxGroups_(maxGroups) {}

DirectoryLookup GroupTable::Find(const MemoryReader& read, std::uint8_t group,
                                 std::uint8_t subgroup, std::uint16_t& firstEntry) {
    for (const Entry& entry : entries_) {
        if (entry.group == group && entry.subgroup == subgroup) {
            firstEntry = entry.firstEntry;
            return DirectoryLookup::kFound;
        }
    }
    if (!rootRead_) {
        std::uint8_t pointer[2];
        if (!read(root_, 2, pointer)) {
            return DirectoryLookup::kReadFailed;
        }
        next_ = static_cast<std::uint16_t>(pointer[0] + 256 * pointer[1]);
        rootRead_ = true;
    }
    while (!ended_ && entries_.size() < maxGroups_) {
        std::uint8_t head[4];
        if (!read(next_, 4, head)) {
            return DirectoryLookup::kReadFailed;
        }
        if (head[0] == kEndOfGroups) {
            ended_ = true;
            break;
        }
        entries_.push_back({head[0], head[1], HighFirst(head + 2)});
        next_ = static_cast<std::uint16_t>(next_ + 8);
        if (head[0] == group && head[1] == subgroup) {
            firstEntry = entries_.back().firstEntry;
            return DirectoryLookup::kFound;
        }
    }
    return DirectoryLookup::kNotFound;
}

DirectoryLookup FindFieldInChain(const MemoryReader& read, std::uint16_t firstEntry,
                                 std::uint8_t field, unsigned maxEntries, FieldLocation& location) {
    std::uint16_t entry = firstEntry;
    for (unsigned e = 0; e < maxEntries; ++e) {
        std::uint8_t head[5];
        if (!read(entry, 5, head)) {
            return DirectoryLookup::kReadFailed;
        }
        const std::uint16_t end = HighFirst(head + 2);
        if (head[0] == field) {
            location.flags = head[1];
            const bool separate = (head[1] & 0x80) != 0;
            const int layout = head[4] >> 6;
            if (!separate && end > entry + 4) {
                location.address = static_cast<std::uint16_t>(entry + 4);
                location.size = static_cast<std::uint16_t>(end - entry - 4);
            } else if (separate && layout == 0 && end > entry + 5) {
                location.address = static_cast<std::uint16_t>(entry + 5);
                location.size = static_cast<std::uint16_t>(end - entry - 5);
            } else if (separate && layout == 1) {
                std::uint8_t where[4];
                if (!read(static_cast<std::uint16_t>(entry + 5), 4, where)) {
                    return DirectoryLookup::kReadFailed;
                }
                location.address = HighFirst(where);
                location.size = HighFirst(where + 2);
            } else {
                return DirectoryLookup::kNotFound;
            }
            return location.size != 0 ? DirectoryLookup::kFound : DirectoryLookup::kNotFound;
        }
        std::uint8_t next[2];
        if (!read(end, 2, next)) {
            return DirectoryLookup::kReadFailed;
        }
        entry = HighFirst(next);
        if (entry == 0) {
            return DirectoryLookup::kNotFound;
        }
    }
    return DirectoryLookup::kNotFound;
}

bool CTV540::FindDataField(std::uint16_t root, std::uint8_t group, std::uint8_t subgroup,
                           std::uint8_t field, FieldLocation& location, unsigned maxGroups,
                           unsigned maxEntries) {
    const MemoryReader read = [this](std::uint16_t address, unsigned count, std::uint8_t* to) {
        return ReadMemory(address, count, to);
    };
    GroupTable table(root, maxGroups);
    std::uint16_t firstEntry = 0;
    return table.Find(read, group, subgroup, firstEntry) == DirectoryLookup::kFound &&
           FindFieldInChain(read, firstEntry, field, maxEntries, location) ==
               DirectoryLookup::kFound;
}

bool CTV540::ReadFieldElement(std::uint16_t root, std::uint8_t group, std::uint8_t subgroup,
                              std::uint8_t field, unsigned index, ElementValue& value) {
    FieldLocation location;
    if (index == 0 || !FindDataField(root, group, subgroup, field, location)) {
        return false;
    }
    const int type = (location.flags >> 1) & 0x07;
    if (type == 0 && location.size >= index) {
        std::uint8_t byte = 0;
        if (!ReadMemory(static_cast<std::uint16_t>(location.address + index - 1), 1, &byte)) {
            return false;
        }
        value = {1, byte};
        return true;
    }
    if (type == 1 && location.size >= 2 * index) {
        std::uint8_t word[2];
        if (!ReadMemory(static_cast<std::uint16_t>(location.address + 2 * index - 2), 2, word)) {
            return false;
        }
        value = {2, HighFirst(word)};
        return true;
    }
    return false;
}

int CTV540::DetectVersion(const std::vector<std::string>& versionList) {
    for (const std::string& line : versionList) {
        VersionLine parsed;
        if (!ParseVersionLine(line, parsed)) {
            continue;
        }
        ElementValue element;
        if (!ReadFieldElement(
                static_cast<std::uint16_t>(parsed.root), static_cast<std::uint8_t>(parsed.group),
                static_cast<std::uint8_t>(parsed.subgroup), static_cast<std::uint8_t>(parsed.field),
                static_cast<unsigned>(parsed.element), element)) {
            continue;
        }
        const long value = element.value & 0xFF;
        for (std::string_view candidate : parsed.candidates) {
            long number = 0;
            if (ParseNumber(candidate, 0, 255, number) && number == value) {
                return static_cast<int>(number);
            }
        }
    }
    return 0;
}

}  // namespace protocol
