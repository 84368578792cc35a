// Feeds arbitrary bytes to the parameter-list parsers as a whole list: quellar's line walk, the
// reading worker's load, the classification and the three data-line kinds. Properties: the
// walks end and keep their bounds, quellar and calvix run the same lines of a list saved with
// either line end, parsed requests stay within their places, records say their own length.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "protocol/protocol_error.h"
#include "reader/param_line.h"
#include "reader/quellar_lines.h"
#include "reading/parameter_list.h"

namespace {

using reader::ClassifiedLine;
using reader::LineKind;

bool InNumberRange(long value) {
    return value >= -0x7FFFFFFFL && value <= 0x7FFFFFFFL;
}

void CheckHeader(const std::vector<std::uint8_t>& tags, std::size_t dataLength) {
    const std::vector<std::uint8_t> header = reader::RecordHeader(tags, dataLength);
    fuzz::Check(header.size() == tags.size() + 3, "a record header is length, 5 and the tags");
    const std::size_t length = (std::size_t{header[0]} << 8) | header[1];
    fuzz::Check(length == tags.size() + 1 + dataLength && header[2] == 5,
                "a record header counts its tags and data");
}

void CheckLine(const ClassifiedLine& line) {
    fuzz::Check(line.text.find(';') == std::string::npos, "a classified line has no comment");
    if (line.kind == LineKind::Skip) {
        return;
    }
    // The keyword ends at the first space only: a tab inside it is part of it.
    fuzz::Check(!line.keyword.empty() && line.keyword.find(' ') == std::string::npos &&
                    line.keyword.front() != '\t',
                "a keyword is one word");
    fuzz::Check(line.rest < line.text.size() && line.text[line.rest] == ' ',
                "the arguments start at the blank after the keyword");
    switch (line.kind) {
        case LineKind::Start:
        case LineKind::Stop: {
            const std::vector<std::uint8_t> record = reader::MarkRecordFromLine(line);
            fuzz::Check(record.size() == 19 && record[0] == 0 && record[1] == 17 && record[2] == 5,
                        "a start or stop record is 19 bytes");
            break;
        }
        case LineKind::DataField:
            if (const auto request = reader::ParseDataFieldLine(line)) {
                fuzz::Check(request->tags.size() <= 21, "a data-field line stores 21 places");
                CheckHeader(request->tags, 255);
            }
            break;
        case LineKind::Mailbox: {
            const reader::MailboxRequest request = reader::ParseMailboxLine(line);
            fuzz::Check(request.tags.size() <= 11, "a mailbox line stores 11 places");
            fuzz::Check(request.opensPair == (line.text.find('@') != std::string::npos),
                        "a mailbox line opens a pair exactly when it holds @");
            fuzz::Check(InNumberRange(request.answerLength), "answer lengths stay in range");
            CheckHeader(request.tags, 2 * 255);
            break;
        }
        case LineKind::Command: {
            const reader::CommandRequest request = reader::ParseCommandLine(line);
            fuzz::Check(request.tags.size() <= 21, "a command line stores 21 places");
            fuzz::Check(InNumberRange(request.answerLength), "answer lengths stay in range");
            break;
        }
        default:
            break;
    }
}

// The lines quellar runs, by its byte-position walk.
std::vector<std::string> QuellarDataLines(const std::string& content, bool& longLine) {
    std::vector<std::string> lines;
    reader::QuellarLines walk(content);
    std::size_t steps = 0;
    while (!walk.AtEnd()) {
        const std::size_t before = walk.Position();
        std::string line = walk.Next();
        fuzz::Check(walk.Position() > before, "the line walk moves on");
        fuzz::Check(line.size() <= 199, "a line is at most 199 characters");
        fuzz::Check(line.find('\n') == std::string::npos, "a line holds no line feed");
        fuzz::Check(++steps <= content.size(), "the line walk ends");
        longLine = longLine || line.size() == 199;
        const ClassifiedLine classified = reader::ClassifyLine(line);
        CheckLine(classified);
        if (classified.kind != LineKind::Skip) {
            lines.push_back(classified.text);
        }
    }
    return lines;
}

// The lines the reading worker runs: its load, then the same classification.
std::vector<std::string> CalvixDataLines(const fuzz::ScratchFile& file,
                                         const std::string& content) {
    std::vector<std::string> lines;
    try {
        for (const std::string& line : reading::LoadParameterList(file.Write(content), "list")) {
            fuzz::Check(line.find_first_of(";\r\n") == std::string::npos,
                        "a loaded line has no comment and no line end");
            const ClassifiedLine classified = reader::ClassifyLine(line);
            CheckLine(classified);
            if (classified.kind != LineKind::Skip) {
                lines.push_back(classified.text);
            }
        }
    } catch (const protocol::ProtocolError&) {
        fuzz::Check(false, "a list that was written can be loaded");
    }
    return lines;
}

std::string WithCrLf(const std::string& content) {
    std::string out;
    for (char c : content) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFile file("list");
    const std::string content(reinterpret_cast<const char*>(data), size);
    bool longLine = false;
    const std::vector<std::string> quellar = QuellarDataLines(content, longLine);
    const std::string pairProblem = reader::MailboxPairProblem(content);
    if (pairProblem.empty()) {
        long opening = 0;
        long continuing = 0;
        for (const std::string& text : quellar) {
            const ClassifiedLine line = reader::ClassifyLine(text);
            if (line.kind == LineKind::Mailbox) {
                ++(reader::ParseMailboxLine(line).opensPair ? opening : continuing);
            }
        }
        fuzz::Check(opening == continuing, "an accepted list has whole mailbox pairs");
    }
    // Lines with a lone CR or cut at 199 characters are read differently on purpose.
    const bool plain = content.find('\r') == std::string::npos && !longLine;
    if (plain) {
        bool unused = false;
        fuzz::Check(QuellarDataLines(WithCrLf(content), unused) == quellar,
                    "a list reads the same with LF and with CR LF line ends");
        fuzz::Check(CalvixDataLines(file, content) == quellar,
                    "quellar and calvix run the same lines");
    } else if (size % 8 == 0) {
        CalvixDataLines(file, content);
    }
    return 0;
}
