#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <system_error>
#include <utility>

#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/text_trim.h"

namespace platform {
namespace {

// Whether the target would take a write where it stands: a regular file that opens for
// writing, or nothing yet. Opening without O_TRUNC changes nothing.
bool TakesAWrite(const std::filesystem::path& target) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

}  // namespace

bool ParseIniInteger(std::string_view text, long& value) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    long long result = 0;
    for (char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        result = result * base + digit;
        if (result > static_cast<long long>(INT_MAX) + 1) {
            return false;  // a 32-bit integer key cannot hold it
        }
    }
    if (negative) {
        result = -result;
    }
    if (result > INT_MAX || result < INT_MIN) {
        return false;
    }
    value = static_cast<long>(result);
    return true;
}

FileRead IniFile::Load(std::filesystem::path path) {
    std::string content;
    const FileRead result = ReadFileWhole(path, content);
    Parse(content);
    const bool usable = result == FileRead::kRead || result == FileRead::kMissing;
    path_ = usable ? std::move(path) : std::filesystem::path();
    return result;
}

void IniFile::Parse(std::string_view text) {
    preamble_.clear();
    sections_.clear();
    Section* current = nullptr;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::string_view line = TrimBlanks(raw);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string_view name = TrimBlanks(line.substr(1, line.size() - 2));
            // A section named twice continues the first one.
            current = Find(name);
            if (current == nullptr) {
                sections_.push_back({std::string(name), {}});
                current = &sections_.back();
            }
            continue;
        }
        std::vector<Line>& target = current != nullptr ? current->lines : preamble_;
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == ';' || equals == std::string_view::npos) {
            target.push_back({"", std::string(line), false});
            continue;
        }
        target.push_back({std::string(TrimBlanks(line.substr(0, equals))),
                          std::string(TrimBlanks(line.substr(equals + 1))), true});
    }
}

std::string IniFile::Text() const {
    std::string out;
    auto put = [&out](const std::vector<Line>& lines) {
        for (const Line& line : lines) {
            out += line.isKey ? line.key + "=" + line.value : line.value;
            out += "\r\n";
        }
    };
    put(preamble_);
    for (const Section& section : sections_) {
        out += "[" + section.name + "]\r\n";
        put(section.lines);
    }
    return out;
}

bool IniFile::UpdateFile() const {
    std::filesystem::path target;
    if (path_.empty() || !FollowLinks(path_, target)) {
        return false;
    }
    // A read-only file is refused as an in-place write would be; one that takes the write keeps
    // its mode and owner.
    return TakesAWrite(target) && ReplaceFile(target, Text());
}

const IniFile::Section* IniFile::Find(std::string_view name) const {
    for (const Section& section : sections_) {
        if (Cp1251EqualsIgnoreCase(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

IniFile::Section* IniFile::Find(std::string_view name) {
    return const_cast<Section*>(static_cast<const IniFile*>(this)->Find(name));
}

const IniFile::Line* IniFile::FindKey(std::string_view section, std::string_view key) const {
    const Section* found = Find(section);
    if (found == nullptr) {
        return nullptr;
    }
    for (const Line& line : found->lines) {
        if (line.isKey && Cp1251EqualsIgnoreCase(line.key, key)) {
            return &line;
        }
    }
    return nullptr;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    const Line* line = FindKey(section, key);
    return std::string(line != nullptr ? std::string_view(line->value) : defaultValue);
}

long IniFile::ReadInteger(std::string_view section, std::string_view key, long defaultValue) const {
    const Line* line = FindKey(section, key);
    long value = 0;
    if (line == nullptr || !ParseIniInteger(line->value, value)) {
        return defaultValue;
    }
    return value;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Section* found = Find(section);
    if (found == nullptr) {
        sections_.push_back({std::string(section), {}});
        found = &sections_.back();
    }
    for (Line& line : found->lines) {
        if (line.isKey && Cp1251EqualsIgnoreCase(line.key, key)) {
            line.value = std::string(value);
            return;
        }
    }
    // New keys go after the last key, before trailing blank lines.
    auto at = found->lines.end();
    while (at != found->lines.begin() && !(at - 1)->isKey) {
        --at;
    }
    found->lines.insert(at, {std::string(key), std::string(value), true});
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, long value) {
    WriteString(section, key, std::to_string(value));
}

bool IniFile::SectionExists(std::string_view section) const {
    return !SectionKeys(section).empty();
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != nullptr;
}

std::vector<std::string> IniFile::Sections() const {
    std::vector<std::string> names;
    for (const Section& section : sections_) {
        names.push_back(section.name);
    }
    return names;
}

std::vector<std::string> IniFile::SectionKeys(std::string_view section) const {
    std::vector<std::string> keys;
    if (const Section* found = Find(section)) {
        for (const Line& line : found->lines) {
            if (line.isKey) {
                keys.push_back(line.key);
            }
        }
    }
    return keys;
}

std::vector<std::string> IniFile::SectionLines(std::string_view section) const {
    std::vector<std::string> lines;
    if (const Section* found = Find(section)) {
        for (const Line& line : found->lines) {
            if (line.isKey) {
                lines.push_back(line.key + "=" + line.value);
            }
        }
    }
    return lines;
}

void IniFile::EraseSection(std::string_view section) {
    for (auto it = sections_.begin(); it != sections_.end(); ++it) {
        if (Cp1251EqualsIgnoreCase(it->name, section)) {
            sections_.erase(it);
            return;
        }
    }
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
    if (Section* found = Find(section)) {
        for (auto it = found->lines.begin(); it != found->lines.end(); ++it) {
            if (it->isKey && Cp1251EqualsIgnoreCase(it->key, key)) {
                found->lines.erase(it);
                return;
            }
        }
    }
}

}  // namespace platform
