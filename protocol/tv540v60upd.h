// A version-60 dump from the data transfer device (УПД), turned into the data file a direct
// reading of that device would have written. The "device" here is the dump itself.
#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

#include "protocol/tv540v60.h"

namespace protocol {

inline constexpr std::size_t kMaxDumpSize = 1024000;

class CTV540v60Upd : public CTV540v60 {
  public:
    CTV540v60Upd();

    // Answers commands 34, 35, 16 and 15 from the dump; other commands fail.
    bool ExecuteCommand(unsigned commandLength, unsigned answerLength, const std::uint8_t* command,
                        std::uint8_t* answer, int attemptCount) override;

    // Converts the dump file in place; through a symbolic link, its target is converted and
    // the link stays. False when it cannot be read or written, is too large, damaged or holds
    // nothing to convert, or the conversion failed: the file is then left exactly as it was.
    // A dump of another version is left as it is and counts as converted.
    bool ConvertDump(const std::filesystem::path& dumpFile, const platform::IniFile& settings);

    // Loads a dump for ExecuteCommand: its records up to the stop record, whose end may be
    // followed by anything (the device fills its last 16-byte block). Without a stop record the
    // records may end in the fill of the last block (under 16 bytes of 00 or of FF). False,
    // with no records kept, when there are none or they break off anywhere else.
    bool LoadDump(std::vector<std::uint8_t> bytes);

  private:
    struct Record {
        std::size_t offset;  // of the length field
        std::size_t length;  // L: the bytes after the length field
    };
    const Record* FindTag(std::uint8_t t0, std::uint8_t t1, std::uint8_t t2,
                          std::size_t minLength = 6) const;
    const std::uint8_t* Bytes(const Record& record) const { return dump_.data() + record.offset; }
    bool FindClock(DeviceClock& clock, std::vector<std::uint8_t>& clockRecord) const;
    bool WriteConverted(DataFile& file, const platform::IniFile& settings);
    void AnswerDayOrMonth(const std::uint8_t* command, unsigned answerLength,
                          std::uint8_t* answer) const;
    void AnswerHour(bool first, unsigned answerLength, std::uint8_t* answer);

    std::vector<std::uint8_t> dump_;
    std::vector<Record> records_;
    std::size_t hourCursor_ = 0;
};

}  // namespace protocol
