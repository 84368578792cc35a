#include "reader/param_line.h"

namespace reader {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Splits on blanks; a token ends at the next blank or at the end of the text.
std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) {
            ++i;
        }
        if (i > start) {
            tokens.push_back(text.substr(start, i - start));
        }
    }
    return tokens;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

long ReadNumber(std::string_view text, int base) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (base == 16 && i + 1 < text.size() && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
        DigitValue(text[i + 2]) < 16) {
        i += 2;
    }
    unsigned long value = 0;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        // Keep the low bits only: every caller stores a byte or checks a small range, and
        // wrapping is defined where overflow would not be.
        value = value * static_cast<unsigned long>(base) +
                static_cast<unsigned long>(DigitValue(text[i]));
        if (value > 0x7FFFFFFFul) {
            value = 0x7FFFFFFFul;
        }
    }
    long result = static_cast<long>(value);
    return negative ? -result : result;
}

std::uint8_t LowByte(long value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

std::vector<std::uint8_t> ParseTags(const std::vector<std::string_view>& tokens, std::size_t first,
                                    bool mailbox) {
    const std::size_t maxPlaces = mailbox ? 11 : 21;
    std::vector<std::uint8_t> stored;
    for (std::size_t place = 0; place < maxPlaces && first + place < tokens.size(); ++place) {
        std::string_view token = tokens[first + place];
        if (token == "-") {
            continue;
        }
        if (mailbox) {
            std::size_t at = token.find('@');
            if (at != std::string_view::npos) {
                token.remove_prefix(at + 1);
            }
        }
        long value = 0;
        if (place == 3) {
            value = ReadBinary(token);
        } else if (mailbox || stored.size() < 5) {
            value = ReadDecimal(token);
        } else {
            value = ReadHex(token);
        }
        stored.push_back(LowByte(value));
    }
    return stored;
}

std::vector<std::string_view> ArgumentTokens(const ClassifiedLine& line) {
    return Tokens(std::string_view(line.text).substr(line.rest));
}

}  // namespace

long ReadDecimal(std::string_view text) {
    return ReadNumber(text, 10);
}
long ReadHex(std::string_view text) {
    return ReadNumber(text, 16);
}
long ReadBinary(std::string_view text) {
    return ReadNumber(text, 2);
}

ClassifiedLine ClassifyLine(std::string_view line) {
    ClassifiedLine result;
    if (line.empty() || line.front() == ';') {
        return result;
    }
    std::size_t comment = line.find(';');
    if (comment != std::string_view::npos) {
        line = line.substr(0, comment);
    }
    result.text = std::string(line);
    std::size_t begin = 0;
    while (begin < line.size() && IsBlank(line[begin])) {
        ++begin;
    }
    std::size_t end = line.size();
    while (end > begin && IsBlank(line[end - 1])) {
        --end;
    }
    if (begin == end) {
        return result;
    }
    std::size_t space = line.find(' ', begin);
    if (space == std::string_view::npos || space >= end) {
        return result;  // no space in the trimmed text: no keyword
    }
    result.keyword = std::string(line.substr(begin, space - begin));
    result.rest = space;
    const std::string_view keyword = result.keyword;
    if (keyword == "HO_START") {
        result.kind = LineKind::Start;
    } else if (keyword == "HO_STOP") {
        result.kind = LineKind::Stop;
    } else if (keyword.starts_with("R_")) {
        result.kind =
            line.find('&') != std::string_view::npos ? LineKind::DataField : LineKind::Command;
    } else if (keyword.starts_with("RA")) {
        result.kind = LineKind::Mailbox;
    } else {
        result.kind = LineKind::Ignored;
    }
    return result;
}

std::vector<std::uint8_t> ParseTagList(std::string_view text, bool mailbox) {
    return ParseTags(Tokens(text), 0, mailbox);
}

std::vector<std::uint8_t> RecordHeader(const std::vector<std::uint8_t>& tags,
                                       std::size_t dataLength) {
    const std::size_t length = tags.size() + 1 + dataLength;
    std::vector<std::uint8_t> header = {static_cast<std::uint8_t>(length >> 8),
                                        static_cast<std::uint8_t>(length & 0xFF), 5};
    header.insert(header.end(), tags.begin(), tags.end());
    return header;
}

std::vector<std::uint8_t> MarkRecordFromLine(const ClassifiedLine& line) {
    std::vector<std::uint8_t> values =
        ParseTagList(std::string_view(line.text).substr(line.rest), false);
    values.resize(16, 0);
    std::vector<std::uint8_t> tags(values.begin(), values.begin() + 5);
    std::vector<std::uint8_t> record = RecordHeader(tags, 11);
    record.insert(record.end(), values.begin() + 5, values.end());
    return record;
}

std::optional<DataFieldRequest> ParseDataFieldLine(const ClassifiedLine& line) {
    const std::string_view text = line.text;
    std::size_t open = text.find("&(", line.rest);
    if (open == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t close = text.find(')', open + 2);
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view root = text.substr(open + 2, close - open - 2);
    if (root.size() != 3 && root.size() != 4) {
        return std::nullopt;
    }
    for (char c : root) {
        if (DigitValue(c) >= 16) {
            return std::nullopt;
        }
    }
    DataFieldRequest request;
    request.root = static_cast<std::uint16_t>(ReadHex(root));
    long values[5] = {};
    std::size_t i = close + 1;
    for (long& value : values) {
        if (i >= text.size() || text[i] != ',') {
            return std::nullopt;
        }
        ++i;
        std::size_t start = i;
        while (i < text.size() && text[i] != ',' && !IsBlank(text[i])) {
            ++i;
        }
        value = ReadDecimal(text.substr(start, i - start));
    }
    request.group = LowByte(values[1]);
    request.subgroup = LowByte(values[2]);
    request.field = LowByte(values[3]);
    request.tags = ParseTagList(text.substr(i), false);
    return request;
}

MailboxRequest ParseMailboxLine(const ClassifiedLine& line) {
    const std::vector<std::string_view> tokens = ArgumentTokens(line);
    auto token = [&](std::size_t k) { return k < tokens.size() ? tokens[k] : std::string_view(); };
    MailboxRequest request;
    request.command[0] = LowByte(ReadDecimal(token(0)));
    request.command[1] = LowByte(ReadHex(token(1)));
    request.command[2] = LowByte(ReadHex(token(2)));
    request.answerLength = ReadDecimal(token(3));
    request.opensPair = line.text.find('@') != std::string::npos;
    request.tags = ParseTags(tokens, 4, true);
    return request;
}

CommandRequest ParseCommandLine(const ClassifiedLine& line) {
    const std::vector<std::string_view> tokens = ArgumentTokens(line);
    auto token = [&](std::size_t k) { return k < tokens.size() ? tokens[k] : std::string_view(); };
    CommandRequest request;
    request.command[0] = LowByte(ReadDecimal(token(0)));
    request.command[1] = LowByte(ReadDecimal(token(1)));
    request.answerLength = ReadDecimal(token(3));
    request.tags = ParseTags(tokens, 4, false);
    return request;
}

}  // namespace reader
