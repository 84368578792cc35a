#include "reader/quellar_lines.h"

namespace reader {

std::string QuellarLines::Next() {
    constexpr std::size_t kMaxChars = 199;
    std::string line;
    std::size_t i = position_;
    while (line.size() < kMaxChars && i < content_.size()) {
        const char c = content_[i];
        // A text stream delivers CR LF as one line feed.
        if (c == '\r' && i + 1 < content_.size() && content_[i + 1] == '\n') {
            line += '\n';
            break;
        }
        line += c;
        ++i;
        if (c == '\n') {
            break;
        }
    }
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    position_ += line.empty() ? 1 : line.size() + 2;
    return line;
}

}  // namespace reader
