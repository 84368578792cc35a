#include "platform/read_policy.h"

#include <algorithm>
#include <climits>

namespace platform {

int PollTimeoutMs(Deadline deadline, SteadyClock::time_point now) {
    if (!deadline) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

Deadline EarlierOf(Deadline a, Deadline b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

Deadline TotalDeadline(SteadyClock::time_point start, std::uint32_t multiplier,
                       std::uint32_t constant, std::size_t count) {
    if (multiplier == 0 && constant == 0) {
        return std::nullopt;
    }
    constexpr std::uint64_t kFarMs = std::uint64_t{1} << 40;
    if (multiplier != 0 && count > (kFarMs - constant) / multiplier) {
        return std::nullopt;
    }
    const std::uint64_t totalMs = std::uint64_t{multiplier} * count + constant;
    return start + std::chrono::milliseconds(totalMs);
}

ReadPolicy::ReadPolicy(const CommTimeouts& timeouts, std::size_t count,
                       SteadyClock::time_point start)
    : count_(count), interval_(timeouts.readIntervalTimeout) {
    const std::uint32_t multiplier = timeouts.readTotalTimeoutMultiplier;
    const std::uint32_t constant = timeouts.readTotalTimeoutConstant;
    if (interval_ == kMaxDword && multiplier == 0 && constant == 0) {
        kind_ = Kind::kAtOnce;
    } else if (interval_ == kMaxDword && multiplier == kMaxDword && constant > 0 &&
               constant < kMaxDword) {
        // Waits up to `constant` for the first bytes and returns with them.
        kind_ = Kind::kFirstBytes;
        total_ = start + std::chrono::milliseconds(constant);
    } else {
        total_ = TotalDeadline(start, multiplier, constant, count);
    }
}

void ReadPolicy::Took(std::size_t total, SteadyClock::time_point now) {
    if (total > got_) {
        got_ = total;
        lastByte_ = now;
    }
}

bool ReadPolicy::Satisfied() const {
    switch (kind_) {
        case Kind::kAtOnce:
            return true;
        case Kind::kFirstBytes:
            return got_ > 0 || got_ == count_;
        case Kind::kTimed:
            break;
    }
    return got_ >= count_;
}

Deadline ReadPolicy::Until() const {
    if (kind_ == Kind::kAtOnce) {
        return SteadyClock::time_point::min();
    }
    // The interval is the gap between two bytes: it runs only once the first byte came.
    if (kind_ == Kind::kTimed && interval_ != 0 && interval_ != kMaxDword && lastByte_) {
        return EarlierOf(total_, *lastByte_ + std::chrono::milliseconds(interval_));
    }
    return total_;
}

}  // namespace platform
