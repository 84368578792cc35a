// quellar takes its lines by byte position: a line of at most 199 characters, then the position
// moves on by the line's length and its own line end (CR LF, LF, or none at the end of the
// file). A line cut at 199 characters moves on by 2 more, as a CR LF list always did.
#pragma once

#include <cstddef>
#include <string>

namespace reader {

class QuellarLines {
  public:
    explicit QuellarLines(std::string content) : content_(std::move(content)) {}
    bool AtEnd() const { return position_ >= content_.size(); }
    std::size_t Position() const { return position_; }
    // The line at the current position, without its line end; advances the position.
    std::string Next();

  private:
    std::string content_;
    std::size_t position_ = 0;
};

// Mailbox pairs must add up: a line with "@" is followed, past skipped and ignored lines, by a
// mailbox line without "@" of the same answer length, and only such a line continues a pair.
// Returns what is wrong (short, English), or "" when every pair is whole.
std::string MailboxPairProblem(const std::string& content);

}  // namespace reader
