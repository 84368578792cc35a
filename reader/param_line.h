// Lines of a parameter-list file: what kind each line is, and what it asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reader {

enum class LineKind {
    Skip,       // empty, blank, comment, or a keyword with nothing after it
    Start,      // "HO_START"
    Stop,       // "HO_STOP"
    DataField,  // "R_..." with "&" on the line
    Mailbox,    // "RA..."
    Command,    // "R_..." without "&"
    Ignored,    // any other keyword
};

struct ClassifiedLine {
    LineKind kind = LineKind::Skip;
    std::string text;      // the line without its comment
    std::string keyword;   // first word
    std::size_t rest = 0;  // offset in `text` just after the keyword
};

ClassifiedLine ClassifyLine(std::string_view line);

// Tag list: at most 21 places (11 in a mailbox line); "-" takes a place and stores nothing;
// the fourth place is binary digits; the first five stored bytes are decimal, later ones
// hexadecimal (mailbox lines: decimal throughout, and "@" in a token is skipped over).
std::vector<std::uint8_t> ParseTagList(std::string_view text, bool mailbox);

// Start and stop lines: 16 stored values, the 5-byte tag and 11 data bytes (missing values are
// zero, extra ones are dropped), as a 19-byte record.
std::vector<std::uint8_t> MarkRecordFromLine(const ClassifiedLine& line);

struct DataFieldRequest {
    std::uint16_t root = 0;
    std::uint8_t group = 0;
    std::uint8_t subgroup = 0;
    std::uint8_t field = 0;
    std::vector<std::uint8_t> tags;
};
// nullopt when the line does not follow "&(root),first,group,subgroup,field,last tags" or the
// root is not 3 or 4 hexadecimal digits: such a line does nothing.
std::optional<DataFieldRequest> ParseDataFieldLine(const ClassifiedLine& line);

struct MailboxRequest {
    std::uint8_t command[3] = {};
    long answerLength = 0;
    bool opensPair = false;  // "@" on the line: this record also holds the next line's answer
    std::vector<std::uint8_t> tags;
};
MailboxRequest ParseMailboxLine(const ClassifiedLine& line);

struct CommandRequest {
    std::uint8_t command[2] = {};
    long answerLength = 0;
    std::vector<std::uint8_t> tags;
};
CommandRequest ParseCommandLine(const ClassifiedLine& line);

// Record header for `tags` followed by `dataLength` bytes: length (high byte first) =
// tags + 1 + dataLength, the byte 5, the tags.
std::vector<std::uint8_t> RecordHeader(const std::vector<std::uint8_t>& tags,
                                       std::size_t dataLength);

// Leading-characters number readers: optional blanks and sign, then digits up to the first
// other character; no digits reads as 0.
long ReadDecimal(std::string_view text);
long ReadHex(std::string_view text);
long ReadBinary(std::string_view text);

}  // namespace reader
