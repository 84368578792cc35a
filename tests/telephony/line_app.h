// A telephony application for the line layer's tests: initialised, with its message queue and
// a way to wait for the messages a test expects.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "telephony/line_api.h"

namespace testsupport {

inline constexpr std::chrono::milliseconds kGenerous{10000};

// An initialised application with its message queue.
class App {
    using Event = platform::Event;
    using LineMessage = telephony::LineMessage;

  public:
    App() {
        telephony::LineInitializeExParams params;
        result_ = telephony::LineInitializeEx(handle_, devices_, version_, params);
        event_ = params.event;
    }
    ~App() {
        if (result_ == 0) {
            telephony::LineShutdown(handle_);
        }
    }
    std::uint32_t Handle() const { return handle_; }
    std::uint32_t Devices() const { return devices_; }
    Event* SignalEvent() const { return event_.get(); }

    // Opens device 0 with the data-modem media mode and ringing messages on.
    std::uint32_t OpenLine(std::int32_t* error = nullptr) {
        std::uint32_t line = 0;
        const std::int32_t result =
            telephony::LineOpen(handle_, 0, line, telephony::kApiVersion,
                                telephony::kPrivilegeOwner, telephony::kMediaModeDataModem);
        if (error != nullptr) {
            *error = result;
        }
        if (result == 0) {
            telephony::LineSetStatusMessages(line, telephony::kLineDevStateRinging, 0);
        }
        return result == 0 ? line : 0;
    }

    // The next message that satisfies `wanted`, skipping the others.
    std::optional<LineMessage> Await(const std::function<bool(const LineMessage&)>& wanted,
                                     std::chrono::milliseconds limit = kGenerous) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            LineMessage message;
            if (telephony::LineGetMessage(handle_, message, 50) == 0) {
                seen_.push_back(message);
                if (wanted(message)) {
                    return message;
                }
            }
        }
        return std::nullopt;
    }
    std::optional<LineMessage> AwaitCallState(std::uint32_t call, std::uint32_t state) {
        return Await([=](const LineMessage& m) {
            return m.messageId == telephony::kLineCallState && m.device == call &&
                   m.param1 == state;
        });
    }
    std::optional<LineMessage> AwaitReply(std::int32_t request) {
        return Await([=](const LineMessage& m) {
            return m.messageId == telephony::kLineReply &&
                   m.param1 == static_cast<std::uint32_t>(request);
        });
    }
    const std::vector<LineMessage>& Seen() const { return seen_; }

  private:
    std::uint32_t handle_ = 0;
    std::uint32_t devices_ = 0;
    std::uint32_t version_ = 0;
    std::int32_t result_ = -1;
    std::shared_ptr<Event> event_;
    std::vector<LineMessage> seen_;
};

// The data handle of a connected call, with the modem library's time-outs; 0 when none.
inline std::uint32_t DataHandleOf(std::uint32_t call) {
    telephony::VarString id;
    if (telephony::LineGetId(0, 0, call, telephony::kCallSelectCall, id, "comm/datamodem") != 0) {
        return 0;
    }
    id.totalSize = id.neededSize;
    if (telephony::LineGetId(0, 0, call, telephony::kCallSelectCall, id, "comm/datamodem") != 0 ||
        id.payload.size() < 4) {
        return 0;
    }
    const std::uint32_t handle = id.payload[0] | (id.payload[1] << 8) | (id.payload[2] << 16) |
                                 (static_cast<std::uint32_t>(id.payload[3]) << 24);
    telephony::CommSetTimeouts(handle, platform::CommTimeouts{3000, 20, 3000, 20, 2000});
    return handle;
}

}  // namespace testsupport
