// Hayes result codes (verbose and numeric forms) and the two byte-stream scanners of a modem
// line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace telephony {

enum class ResultCode {
    kNone,  // not a result code: echo, garbage, information text
    kOk,
    kConnect,
    kRing,
    kNoCarrier,
    kError,
    kNoDialTone,
    kBusy,
    kNoAnswer,
    kCarrier,  // "CARRIER 33600": the line rate, reported before CONNECT (W1)
};

struct Result {
    ResultCode code = ResultCode::kNone;
    // CONNECT and CARRIER: the rate in the text; 0 when none is given (a numeric CONNECT code).
    // A bare verbose CONNECT means 300 bit/s.
    std::uint32_t rate = 0;
};

Result ParseResultLine(std::string_view line);

// Splits command-mode output into lines at CR or LF; empty lines are skipped and over-long
// ones (garbage) discarded.
class LineAssembler {
  public:
    std::optional<std::string> Feed(std::uint8_t byte);
    void Clear() { line_.clear(); }

  private:
    static constexpr std::size_t kMaxLine = 80;
    std::string line_;
    bool overflow_ = false;
};

// Watches a data stream for the modem's "\r\nNO CARRIER\r": the far end has gone.
class CarrierLossScanner {
  public:
    bool Feed(std::uint8_t byte);
    void Clear() { matched_ = 0; }

  private:
    std::size_t matched_ = 0;
};

}  // namespace telephony
