#include "reader/quellar_lines.h"

#include "reader/param_line.h"

namespace reader {
namespace {

// Bytes of the line end at `at`: 2 for CR LF, 1 for LF, 0 for anything else. A lone CR is
// text, as a text stream keeps it.
std::size_t LineEndAt(const std::string& content, std::size_t at) {
    if (at < content.size() && content[at] == '\n') {
        return 1;
    }
    if (at + 1 < content.size() && content[at] == '\r' && content[at + 1] == '\n') {
        return 2;
    }
    return 0;
}

}  // namespace

std::string QuellarLines::Next() {
    constexpr std::size_t kMaxChars = 199;
    std::size_t end = position_;
    while (end < content_.size() && end - position_ < kMaxChars && LineEndAt(content_, end) == 0) {
        ++end;
    }
    std::string line = content_.substr(position_, end - position_);
    std::size_t step = LineEndAt(content_, end);
    if (step == 0 && end < content_.size()) {
        step = 2;  // cut at the limit: the rest of the line follows as a line of its own
    }
    position_ = end + step;
    return line;
}

std::string MailboxPairProblem(const std::string& content) {
    QuellarLines lines(content);
    std::string opener;  // keyword of the "@" line waiting for its continuation
    long openerLength = 0;
    while (!lines.AtEnd()) {
        const ClassifiedLine line = ClassifyLine(lines.Next());
        if (line.kind == LineKind::Skip || line.kind == LineKind::Ignored) {
            continue;
        }
        const bool mailbox = line.kind == LineKind::Mailbox;
        const MailboxRequest request = mailbox ? ParseMailboxLine(line) : MailboxRequest{};
        if (!opener.empty()) {
            if (!mailbox || request.opensPair) {
                return opener + " has no continuation";
            }
            if (request.answerLength != openerLength) {
                return line.keyword + " differs in length from " + opener;
            }
            opener.clear();
            continue;
        }
        if (mailbox && !request.opensPair) {
            return line.keyword + " continues no @ line";
        }
        if (mailbox) {
            opener = line.keyword;
            openerLength = request.answerLength;
        }
    }
    return opener.empty() ? std::string() : opener + " has no continuation";
}

}  // namespace reader
