#include "gui/rules/report_archive.h"

#include <cstdint>
#include <system_error>

#include "gui/rules/report_files.h"
#include "platform/codepage.h"
#include "platform/file_io.h"

namespace calvix {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFolder = "Archive";
constexpr std::string_view kTxt = ".txt";
constexpr std::size_t kHashDigits = 16;
// "~" and the hash after the cut.
constexpr std::size_t kHashPart = 1 + kHashDigits;
// The longer of the two endings bounds the stem, so the title file's name fits as well.
constexpr std::size_t kStemBytes = kMaxFileNameBytes - kTitleFileEnding.size();

std::size_t Utf8Size(std::string_view text1251) {
    return platform::Cp1251ToUtf8(text1251).size();
}

std::uint64_t Fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (char c : bytes) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string Hex16(std::uint64_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out(kHashDigits, '0');
    for (std::size_t i = kHashDigits; i-- > 0; value >>= 4) {
        out[i] = kDigits[value & 0x0F];
    }
    return out;
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The stem of an archive file name: without ".txt" or ".title" (any case).
std::string_view Stem(std::string_view fileName) {
    for (std::string_view ending : {kTxt, kTitleFileEnding}) {
        if (fileName.size() >= ending.size() &&
            platform::Cp1251EqualsIgnoreCase(fileName.substr(fileName.size() - ending.size()),
                                             ending)) {
            return fileName.substr(0, fileName.size() - ending.size());
        }
    }
    return fileName;
}

// The escaped title cut so that it takes at most `budget` bytes on disk; an escape ("%" and
// two digits) is never split.
std::string CutEscaped(std::string_view escaped, std::size_t budget) {
    std::string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < escaped.size();) {
        const std::size_t length = escaped[i] == '%' && i + 2 < escaped.size() ? 3 : 1;
        const std::string_view unit = escaped.substr(i, length);
        const std::size_t bytes = Utf8Size(unit);
        if (used + bytes > budget) {
            break;
        }
        out += unit;
        used += bytes;
        i += length;
    }
    return out;
}

// The name (1251) of a program path's last component.
std::string_view LastComponent(std::string_view path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view Folder(std::string_view path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

}  // namespace

std::string ArchiveFileName(std::string_view title) {
    const std::string escaped = EncodeArchiveName(title);
    if (Utf8Size(escaped) + kTxt.size() <= kMaxFileNameBytes) {
        return escaped + std::string(kTxt);
    }
    return CutEscaped(escaped, kStemBytes - kHashPart) + "~" + Hex16(Fnv1a(title)) +
           std::string(kTxt);
}

bool IsShortenedArchiveName(std::string_view fileName) {
    const std::string_view stem = Stem(fileName);
    if (stem.size() < kHashPart || stem[stem.size() - kHashPart] != '~') {
        return false;
    }
    for (char c : stem.substr(stem.size() - kHashDigits)) {
        if (!IsUpperHex(c)) {
            return false;
        }
    }
    return true;
}

std::string TitleFileName(std::string_view archiveFileName) {
    return std::string(Stem(archiveFileName)) + std::string(kTitleFileEnding);
}

std::string ArchiveTitleOf(const fs::path& archiveFolder, std::string_view fileName) {
    const std::string_view stem = Stem(fileName);
    if (IsShortenedArchiveName(fileName)) {
        std::string title;
        const fs::path titleFile = archiveFolder / platform::Cp1251ToUtf8(TitleFileName(fileName));
        if (platform::ReadFileWhole(titleFile, title, 64 * 1024) == platform::FileRead::kRead &&
            Stem(ArchiveFileName(title)) == stem) {
            return title;
        }
    }
    return DecodeArchiveName(stem);
}

bool ArchiveTitleLess(std::string_view a, std::string_view b) {
    // Sort keys: code points of the lower-case letters, doubled, so "ё" fits in after "е".
    auto key = [](char c) -> std::uint32_t {
        const std::uint8_t lower = platform::Cp1251ToLower(static_cast<std::uint8_t>(c));
        if (lower == 0xB8) {  // ё
            return 2 * 0x0435 + 1;
        }
        return 2 * static_cast<std::uint32_t>(platform::Cp1251ToUnicode(lower));
    };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t x = key(a[i]);
        const std::uint32_t y = key(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

bool ArchiveFolderExists(const fs::path& startFolder) {
    std::error_code ec;
    return fs::is_directory(ProgramPath(kFolder, startFolder), ec);
}

bool MakeArchiveFolder(const fs::path& startFolder) {
    if (ArchiveFolderExists(startFolder)) {
        return true;
    }
    std::error_code ec;
    fs::create_directory(ProgramPath(kFolder, startFolder), ec);
    return ArchiveFolderExists(startFolder);
}

std::string ArchiveTargetPath(const fs::path& startFolder, std::string_view title) {
    const std::string canonical = std::string(kFolder) + "\\" + ArchiveFileName(title);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(ProgramPath(canonical, startFolder), ec))) {
        return canonical;
    }
    std::vector<ArchiveEntry> entries;
    ListNameMemoCreate(startFolder, entries);
    for (const ArchiveEntry& entry : entries) {
        if (entry.title == title) {
            return entry.path;
        }
    }
    return canonical;
}

bool WriteArchiveReport(const fs::path& startFolder, std::string_view targetPath,
                        std::string_view title, const std::vector<std::string>& lines) {
    const fs::path target = ProgramPath(targetPath, startFolder);
    const std::string_view name = LastComponent(targetPath);
    const bool needsTitleFile = IsShortenedArchiveName(name) && ArchiveFileName(title) == name;
    std::error_code ec;
    const bool existed = fs::exists(fs::symlink_status(target, ec));
    const fs::path titleFile =
        ProgramPath(std::string(Folder(targetPath)) + TitleFileName(name), startFolder);
    if (needsTitleFile && !platform::ReplaceFile(titleFile, title)) {
        return false;
    }
    if (!SaveTextLines(target, lines)) {
        if (needsTitleFile && !existed) {
            fs::remove(titleFile, ec);  // no report, so no title for one
        }
        return false;
    }
    return true;
}

ArchiveCopy CopyIntoArchive(const fs::path& startFolder, std::string_view sourcePath,
                            std::string_view targetPath, std::string_view title,
                            const std::function<void(std::vector<std::string>&)>& correct) {
    const fs::path source = ProgramPath(sourcePath, startFolder);
    std::error_code ec;
    if (sourcePath.empty() || !fs::exists(source, ec)) {
        return ArchiveCopy::kMissing;
    }
    try {
        std::vector<std::string> lines;
        if (!LoadTextLines(source, lines)) {
            return ArchiveCopy::kFailed;
        }
        if (correct) {
            correct(lines);
        }
        return WriteArchiveReport(startFolder, targetPath, title, lines) ? ArchiveCopy::kSaved
                                                                         : ArchiveCopy::kFailed;
    } catch (const std::exception&) {
        return ArchiveCopy::kFailed;  // a report the correction cannot read
    }
}

bool DeleteArchiveReport(const fs::path& startFolder, std::string_view path) {
    const fs::path file = ProgramPath(path, startFolder);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(file, ec);
    if (fs::is_directory(status)) {
        return false;
    }
    if (fs::exists(status) && !fs::remove(file, ec)) {
        return false;
    }
    const std::string_view name = LastComponent(path);
    if (IsShortenedArchiveName(name)) {
        fs::remove(ProgramPath(std::string(Folder(path)) + TitleFileName(name), startFolder), ec);
    }
    return true;
}

}  // namespace calvix
