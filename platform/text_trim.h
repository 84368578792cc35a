// Trimming texts at both ends, the two ways the programs need.
#pragma once

#include <string_view>

namespace platform {

// Spaces and tabs, and a CR left over from a CR LF line end: the blanks of INI and list lines.
inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Blanks and control characters (everything up to the space character), as a command line or a
// report line is trimmed.
inline std::string_view TrimSpaceAndControl(std::string_view text) {
    const auto spaceOrControl = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && spaceOrControl(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && spaceOrControl(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace platform
