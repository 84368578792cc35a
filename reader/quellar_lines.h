// quellar takes its lines by byte position, the way a text stream reads a CR LF file: a line
// of at most 199 characters, then the position moves on by its length + 2 (1 when empty).
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

}  // namespace reader
