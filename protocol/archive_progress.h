// How archive reads tell the reading worker where they are, and learn that the operator
// asked to stop.
#pragma once

#include <string_view>

namespace protocol {

class ArchiveProgress {
  public:
    virtual ~ArchiveProgress() = default;
    // Shows the text (Windows-1251; empty keeps the previous one), position and maximum, and
    // answers whether the operator asked to stop.
    virtual bool Report(std::string_view text, int position, int maximum) = 0;
    // As Report, but a stop request raises "Чтение архивов из тепловычислителя прервано.".
    void ReportOrStop(std::string_view text, int position, int maximum);
};

// Progress nobody watches and nobody stops.
class SilentProgress final : public ArchiveProgress {
  public:
    bool Report(std::string_view, int, int) override { return false; }
};

}  // namespace protocol
