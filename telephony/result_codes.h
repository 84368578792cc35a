// Hayes result codes (verbose form) and the two byte-stream scanners of a modem line.
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
};

struct Result {
    ResultCode code = ResultCode::kNone;
    std::uint32_t rate = 0;  // CONNECT only; a bare CONNECT means 300 bit/s
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
