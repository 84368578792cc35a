// Feeds arbitrary bytes to the modem line's readers as command-mode output and as data.
// Properties: the line assembler hands over exactly the non-empty lines of at most 80
// characters; a result has a rate only when it is a CONNECT or CARRIER, and trailing blanks
// change nothing; the carrier-loss scanner fires once for each "\r\nNO CARRIER\r" in the data.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "telephony/result_codes.h"

namespace {

using telephony::ResultCode;

std::vector<std::string> ExpectedLines(std::string_view stream) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= stream.size()) {
        const std::size_t end = stream.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            break;  // an unfinished line is not handed over
        }
        const std::string_view line = stream.substr(start, end - start);
        if (!line.empty() && line.size() <= 80) {
            lines.emplace_back(line);
        }
        start = end + 1;
    }
    return lines;
}

std::size_t Occurrences(std::string_view stream, std::string_view pattern) {
    std::size_t count = 0;
    for (std::size_t at = stream.find(pattern); at != std::string_view::npos;
         at = stream.find(pattern, at + pattern.size())) {
        ++count;
    }
    return count;
}

void CheckResult(const std::string& line) {
    const telephony::Result result = telephony::ParseResultLine(line);
    const bool hasRate = result.code == ResultCode::kConnect || result.code == ResultCode::kCarrier;
    fuzz::Check(hasRate || result.rate == 0, "only CONNECT and CARRIER carry a rate");
    const telephony::Result padded = telephony::ParseResultLine(line + "  ");
    fuzz::Check(padded.code == result.code && padded.rate == result.rate,
                "trailing blanks change no result");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    telephony::LineAssembler assembler;
    telephony::CarrierLossScanner scanner;
    std::vector<std::string> lines;
    std::size_t losses = 0;
    for (const std::uint8_t byte : std::vector<std::uint8_t>(data, data + size)) {
        if (std::optional<std::string> line = assembler.Feed(byte)) {
            fuzz::Check(!line->empty() && line->size() <= 80 &&
                            line->find_first_of("\r\n") == std::string::npos,
                        "an assembled line is one non-empty line of at most 80 characters");
            CheckResult(*line);
            lines.push_back(std::move(*line));
        }
        losses += scanner.Feed(byte) ? 1 : 0;
    }
    fuzz::Check(lines == ExpectedLines(stream), "the assembler hands over every whole line");
    fuzz::Check(losses == Occurrences(stream, "\r\nNO CARRIER\r"),
                "the carrier loss is seen once per NO CARRIER in the data");
    CheckResult(std::string(stream));
    return 0;
}
