#include "gui/rules/report_files.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <system_error>

#include "gui/rules/report_archive.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/win_path.h"

namespace calvix {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kEscaped = "\\/:*?\"><|%";
constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool EndsWithTxt(std::string_view name) {
    if (name.size() < 4) {
        return false;
    }
    std::string tail(name.substr(name.size() - 4));
    for (char& c : tail) {
        c = static_cast<char>(platform::Cp1251ToLower(static_cast<std::uint8_t>(c)));
    }
    return tail == ".txt";
}

bool IsValidUtf8(std::string_view text) {
    return platform::Cp1251ToUtf8(platform::Utf8ToCp1251(text)) == text;
}

// A file name from the disk as 1251 text. Names that are not UTF-8 (copied from another
// system) are taken as 1251 bytes.
std::string NameAs1251(const fs::path& name) {
    const std::string raw = name.string();
    return IsValidUtf8(raw) ? platform::Utf8ToCp1251(raw) : raw;
}

}  // namespace

fs::path ProgramPath(std::string_view windowsPath, const fs::path& base) {
    fs::path path = platform::ResolvePath(platform::Cp1251ToUtf8(windowsPath), base);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) {
        // A file copied from another system may carry its name in 1251 bytes.
        fs::path raw = platform::ResolvePath(windowsPath, base);
        if (fs::exists(fs::symlink_status(raw, ec))) {
            return raw;
        }
    }
    return path;
}

std::string EncodeArchiveName(std::string_view title) {
    std::string out;
    out.reserve(title.size());
    for (char c : title) {
        const auto code = static_cast<std::uint8_t>(c);
        if (code < 32 || kEscaped.find(c) != std::string_view::npos) {
            out += '%';
            out += kHexDigits[code >> 4];
            out += kHexDigits[code & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string DecodeArchiveName(std::string_view name) {
    std::string out(name);
    for (std::size_t i = out.size(); i-- > 0;) {
        if (out[i] != '%' || i + 2 >= out.size()) {
            continue;
        }
        const int high = HexValue(out[i + 1]);
        const int low = HexValue(out[i + 2]);
        if (high < 0 || low < 0) {
            continue;
        }
        out.replace(i, 3, 1, static_cast<char>(high * 16 + low));
    }
    return out;
}

std::string ArchiveReportPath(std::string_view title) {
    return "Archive\\" + ArchiveFileName(title);
}

bool ReportHasTable(const std::vector<std::string>& lines) {
    int count = 0;
    std::size_t second = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("+--") != std::string::npos) {
            ++count;
            if (count == 2) {
                second = i;
            }
        }
    }
    if (count >= 3) {
        return true;
    }
    return count == 2 && lines.size() - second - 1 >= 24;
}

bool ListNameMemoCreate(const fs::path& startFolder, std::vector<ArchiveEntry>& entries) {
    entries.clear();
    bool found = false;
    const fs::path folder = ProgramPath("Archive", startFolder);
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            continue;
        }
        const std::string name = NameAs1251(it->path().filename());
        if (!EndsWithTxt(name) || name.size() <= 4) {
            continue;
        }
        found = true;
        entries.push_back({ArchiveTitleOf(folder, name), "Archive\\" + name});
    }
    // Equal titles keep one order whatever the folder's order.
    std::sort(entries.begin(), entries.end(), [](const ArchiveEntry& a, const ArchiveEntry& b) {
        if (ArchiveTitleLess(a.title, b.title)) {
            return true;
        }
        if (ArchiveTitleLess(b.title, a.title)) {
            return false;
        }
        return a.path < b.path;
    });
    return found;
}

bool LoadTextLines(const fs::path& file, std::vector<std::string>& lines) {
    lines.clear();
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return false;
    }
    std::string line;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return true;
}

bool SaveTextLines(const fs::path& file, const std::vector<std::string>& lines) {
    std::string content;
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }
    return platform::ReplaceFile(file, content);
}

void ClearTextFolder(const fs::path& startFolder, std::string_view folder) {
    const fs::path dir = ProgramPath(folder, startFolder);
    std::vector<fs::path> doomed;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            continue;
        }
        if (EndsWithTxt(NameAs1251(it->path().filename()))) {
            doomed.push_back(it->path());
        }
    }
    for (const fs::path& file : doomed) {
        std::error_code ignored;  // a file that cannot be deleted simply stays
        fs::remove(file, ignored);
    }
}

void MigrateMemoFolder(const fs::path& startFolder) {
    std::error_code ec;
    const fs::path memo = ProgramPath("memo", startFolder);
    if (!fs::is_directory(memo, ec)) {
        return;
    }
    std::vector<fs::path> files;
    fs::directory_iterator it(memo, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError) && EndsWithTxt(NameAs1251(it->path().filename()))) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    const fs::path archive = ProgramPath("archive", startFolder);
    for (const fs::path& file : files) {
        std::vector<std::string> lines;
        if (!LoadTextLines(file, lines) || !SaveTextLines(archive / file.filename(), lines)) {
            return;
        }
        std::error_code removeError;
        if (!fs::remove(file, removeError)) {
            return;
        }
    }
}

}  // namespace calvix
