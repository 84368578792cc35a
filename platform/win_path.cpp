#include "platform/win_path.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Upper-case Cyrillic letters of the 1251 repertoire map to their lower-case forms.
char32_t LowerCyrillic(char32_t cp) {
    if (cp >= 0x0400 && cp <= 0x040F) {  // Ѐ..Џ, Ё among them
        return cp + 0x50;
    }
    if (cp >= 0x0410 && cp <= 0x042F) {  // А..Я
        return cp + 0x20;
    }
    if (cp == 0x0490) {  // Ґ
        return 0x0491;
    }
    return cp;
}

// Comparison key of a UTF-8 file name: ASCII and Cyrillic letters folded to lower case,
// every other byte (including ill-formed UTF-8) kept as it is.
std::string FoldCase(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        auto byte = static_cast<std::uint8_t>(name[i]);
        if (byte >= 'A' && byte <= 'Z') {
            out += static_cast<char>(byte - 'A' + 'a');
            continue;
        }
        if ((byte & 0xE0) == 0xC0 && i + 1 < name.size()) {
            auto next = static_cast<std::uint8_t>(name[i + 1]);
            if ((next & 0xC0) == 0x80) {
                char32_t cp = (static_cast<char32_t>(byte & 0x1F) << 6) | (next & 0x3F);
                char32_t lower = LowerCyrillic(cp);
                if (lower != cp) {
                    // Both forms are two-byte sequences.
                    out += static_cast<char>(0xC0 | (lower >> 6));
                    out += static_cast<char>(0x80 | (lower & 0x3F));
                    ++i;
                    continue;
                }
            }
        }
        out += static_cast<char>(byte);
    }
    return out;
}

// The entry of `folder` that `component` names: the exact name when it exists, else the
// first entry in sorted order that matches without regard to case, else `component` itself.
std::string MatchEntry(const fs::path& folder, const std::string& component) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder / component, ec))) {
        return component;
    }
    const std::string wanted = FoldCase(component);
    std::string best;
    bool found = false;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (FoldCase(name) == wanted && (!found || name < best)) {
            best = std::move(name);
            found = true;
        }
    }
    if (ec || !found) {
        return component;
    }
    return best;
}

}  // namespace

std::filesystem::path ResolvePath(std::string_view windowsPath, const std::filesystem::path& base) {
    const bool absolute =
        !windowsPath.empty() && (windowsPath.front() == '\\' || windowsPath.front() == '/');
    fs::path result = absolute ? fs::path("/") : base;
    // Components appended to `result`; ".." removes one of these, and above them it is kept.
    std::size_t depth = 0;

    std::size_t start = 0;
    while (start <= windowsPath.size()) {
        std::size_t end = windowsPath.find_first_of("\\/", start);
        if (end == std::string_view::npos) {
            end = windowsPath.size();
        }
        const std::string component(windowsPath.substr(start, end - start));
        start = end + 1;

        if (component.empty() || component == ".") {
            continue;
        }
        if (component == "..") {
            if (depth > 0) {
                result = result.parent_path();
                --depth;
            } else if (!absolute) {
                result /= component;
            }
            continue;
        }
        result /= MatchEntry(result, component);
        ++depth;
    }
    return result;
}

}  // namespace platform
