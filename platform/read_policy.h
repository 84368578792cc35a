// The Win32 ReadFile time-out rules, in one place for every reader of a byte stream: the COM
// port and a modem call's data channel. A read ends when its count is reached, when the total
// time-out (multiplier x count + constant) runs out, or when the gap after the last byte that
// came exceeds the interval time-out; zeros disable a time-out; two MAXDWORD cases differ.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/serial_port.h"

namespace platform {

using SteadyClock = std::chrono::steady_clock;
using Deadline = std::optional<SteadyClock::time_point>;

// Milliseconds for poll(): -1 without a deadline, 0 once it has passed, else rounded up so that
// a wait never ends just short of its deadline and spins.
int PollTimeoutMs(Deadline deadline, SteadyClock::time_point now = SteadyClock::now());

// The earlier of two deadlines; a missing one is "never".
Deadline EarlierOf(Deadline a, Deadline b);

// start + multiplier x count + constant ms; none when both are zero. A total farther away than
// any read can last (about 35 years) counts as none, which also keeps the sum from overflowing.
Deadline TotalDeadline(SteadyClock::time_point start, std::uint32_t multiplier,
                       std::uint32_t constant, std::size_t count);

class ReadPolicy {
  public:
    ReadPolicy(const CommTimeouts& timeouts, std::size_t count, SteadyClock::time_point start);

    // MAXDWORD, 0, 0: whatever is there, at once.
    bool ReturnsAtOnce() const { return kind_ == Kind::kAtOnce; }

    // Bytes arrived; `total` is how many the read holds now. The interval runs from `now`.
    void Took(std::size_t total, SteadyClock::time_point now);

    // True once the read has what it waits for (it may still end earlier on a deadline).
    bool Satisfied() const;

    // When the read ends unless another byte comes first; none: it waits for ever.
    Deadline Until() const;

  private:
    enum class Kind { kTimed, kAtOnce, kFirstBytes };
    Kind kind_ = Kind::kTimed;
    std::size_t count_;
    std::size_t got_ = 0;
    std::uint32_t interval_;
    Deadline total_;
    Deadline lastByte_;
};

}  // namespace platform
