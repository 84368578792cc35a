#include "telephony/data_channel.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/read_policy.h"

namespace telephony {
using Clock = std::chrono::steady_clock;

DataChannel::DataChannel(Writer writer) : writer_(std::move(writer)) {}

void DataChannel::Deliver(const std::uint8_t* bytes, std::size_t count) {
    {
        std::lock_guard lock(mutex_);
        if (broken_) {
            return;
        }
        const std::size_t room = kInputLimit - std::min(kInputLimit, input_.size());
        input_.insert(input_.end(), bytes, bytes + std::min(room, count));
    }
    arrived_.notify_all();
}

void DataChannel::Break() {
    {
        std::lock_guard lock(mutex_);
        broken_ = true;
        input_.clear();  // what is left ends in the modem's NO CARRIER, not in data
    }
    arrived_.notify_all();
}

bool DataChannel::Broken() const {
    std::lock_guard lock(mutex_);
    return broken_;
}

void DataChannel::SetTimeouts(const platform::CommTimeouts& timeouts) {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
}

std::size_t DataChannel::TakeLocked(std::uint8_t* buffer, std::size_t count) {
    const std::size_t n = std::min(count, input_.size());
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

CommTransfer DataChannel::Read(std::uint8_t* buffer, std::size_t count,
                               std::chrono::milliseconds limit) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point cancelAt = start + limit;
    std::unique_lock lock(mutex_);
    if (broken_) {
        return {false, false, 0};
    }
    platform::ReadPolicy policy(timeouts_, count, start);
    std::size_t done = 0;
    for (;;) {
        done += TakeLocked(buffer + done, count - done);
        policy.Took(done, Clock::now());
        if (policy.Satisfied()) {
            return {true, false, done};
        }
        if (broken_) {
            return {false, false, done};
        }
        const platform::Deadline until = platform::EarlierOf(policy.Until(), cancelAt);
        if (!arrived_.wait_until(lock, *until, [this] { return !input_.empty() || broken_; })) {
            const platform::Deadline own = policy.Until();
            if (own && Clock::now() >= *own) {
                return {true, false, done};
            }
            // Its own time-outs would have let the read run past the caller's limit.
            return {false, true, 0};
        }
    }
}

CommTransfer DataChannel::Write(const std::uint8_t* buffer, std::size_t count,
                                std::chrono::milliseconds limit) {
    platform::CommTimeouts t;
    {
        std::lock_guard lock(mutex_);
        if (broken_) {
            return {false, false, 0};
        }
        t = timeouts_;
    }
    // A write that its own time-outs would let run past the limit is cut at the limit.
    const std::uint64_t totalMs =
        std::uint64_t{t.writeTotalTimeoutMultiplier} * count + t.writeTotalTimeoutConstant;
    const bool capped = totalMs == 0 || totalMs > static_cast<std::uint64_t>(limit.count());
    if (capped) {
        t.writeTotalTimeoutMultiplier = 0;
        t.writeTotalTimeoutConstant = static_cast<std::uint32_t>(limit.count());
    }
    std::size_t done = 0;
    const int error = writer_(buffer, count, done, t);
    if (error == 0) {
        return {true, false, done};
    }
    if (error == ETIMEDOUT) {
        if (capped) {
            return {false, true, 0};
        }
        return {true, false, done};
    }
    return {false, false, done};
}

}  // namespace telephony
