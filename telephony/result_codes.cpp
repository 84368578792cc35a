#include "telephony/result_codes.h"

#include <charconv>

namespace telephony {
namespace {

constexpr std::string_view kNoCarrierPattern = "\r\nNO CARRIER\r";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The leading number of "33600/ARQ/V34"; 0 when there is none.
std::uint32_t LeadingRate(std::string_view text) {
    std::uint32_t rate = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
    return error != std::errc() || end == text.data() ? 0 : rate;
}

// Numeric codes (V0). 1, 5 and 10..39 are the vendors' CONNECT codes, whose rates differ from
// one table to the next; 40 and above are information (carrier, protocol, compression).
Result NumericResult(std::string_view line) {
    std::uint32_t code = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), code);
    if (error != std::errc() || end != line.data() + line.size()) {
        return {};
    }
    switch (code) {
        case 0:
            return {ResultCode::kOk, 0};
        case 2:
            return {ResultCode::kRing, 0};
        case 3:
            return {ResultCode::kNoCarrier, 0};
        case 4:
            return {ResultCode::kError, 0};
        case 6:
            return {ResultCode::kNoDialTone, 0};
        case 7:
            return {ResultCode::kBusy, 0};
        case 8:
            return {ResultCode::kNoAnswer, 0};
        default:
            break;
    }
    if (code == 1 || code == 5 || (code >= 10 && code < 40)) {
        return {ResultCode::kConnect, 0};
    }
    return {};
}

}  // namespace

Result ParseResultLine(std::string_view line) {
    while (!line.empty() && line.back() == ' ') {
        line.remove_suffix(1);
    }
    if (line == "OK") {
        return {ResultCode::kOk, 0};
    }
    if (line == "RING") {
        return {ResultCode::kRing, 0};
    }
    if (line == "NO CARRIER") {
        return {ResultCode::kNoCarrier, 0};
    }
    if (line == "ERROR") {
        return {ResultCode::kError, 0};
    }
    if (line == "NO DIALTONE" || line == "NO DIAL TONE") {
        return {ResultCode::kNoDialTone, 0};
    }
    if (line == "BUSY") {
        return {ResultCode::kBusy, 0};
    }
    if (line == "NO ANSWER") {
        return {ResultCode::kNoAnswer, 0};
    }
    if (line == "CONNECT") {
        return {ResultCode::kConnect, 300};
    }
    if (StartsWith(line, "CONNECT ")) {
        // "CONNECT 9600", "CONNECT 33600/ARQ/V34": the leading number is the rate.
        return {ResultCode::kConnect, LeadingRate(line.substr(8))};
    }
    if (StartsWith(line, "CARRIER ")) {
        return {ResultCode::kCarrier, LeadingRate(line.substr(8))};
    }
    if (!line.empty() && line.size() <= 3) {
        return NumericResult(line);
    }
    return {};
}

std::optional<std::string> LineAssembler::Feed(std::uint8_t byte) {
    if (byte == '\r' || byte == '\n') {
        const bool overflowed = overflow_;
        overflow_ = false;
        if (line_.empty() || overflowed) {
            line_.clear();
            return std::nullopt;
        }
        std::string done;
        done.swap(line_);
        return done;
    }
    if (overflow_) {
        return std::nullopt;
    }
    if (line_.size() >= kMaxLine) {
        line_.clear();
        overflow_ = true;
        return std::nullopt;
    }
    line_ += static_cast<char>(byte);
    return std::nullopt;
}

bool CarrierLossScanner::Feed(std::uint8_t byte) {
    // The pattern holds CR only at its ends, so after a mismatch the only prefix that can
    // still be under way is the one that this byte starts.
    if (static_cast<char>(byte) == kNoCarrierPattern[matched_]) {
        ++matched_;
    } else {
        matched_ = static_cast<char>(byte) == kNoCarrierPattern[0] ? 1 : 0;
    }
    if (matched_ == kNoCarrierPattern.size()) {
        matched_ = 0;
        return true;
    }
    return false;
}

}  // namespace telephony
