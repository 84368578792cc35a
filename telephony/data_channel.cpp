#include "telephony/data_channel.h"

#include <algorithm>
#include <cerrno>
#include <optional>

namespace telephony {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, std::uint32_t multiplier,
                                               std::uint32_t constant, std::size_t count) {
    if (multiplier == 0 && constant == 0) {
        return std::nullopt;
    }
    const std::uint64_t ms = std::uint64_t{multiplier} * count + constant;
    return start + std::chrono::milliseconds(std::min<std::uint64_t>(ms, 1ull << 40));
}

}  // namespace

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
    const platform::CommTimeouts t = timeouts_;
    if (broken_) {
        return {false, false, 0};
    }
    std::size_t done = TakeLocked(buffer, count);
    if (done == count) {
        return {true, false, done};
    }
    const bool intervalMax = t.readIntervalTimeout == platform::kMaxDword;
    // MAXDWORD, 0, 0: what is there, at once.
    if (intervalMax && t.readTotalTimeoutMultiplier == 0 && t.readTotalTimeoutConstant == 0) {
        return {true, false, done};
    }
    // MAXDWORD, MAXDWORD, constant: wait up to `constant` for the first bytes only.
    if (intervalMax && t.readTotalTimeoutMultiplier == platform::kMaxDword &&
        t.readTotalTimeoutConstant > 0 && t.readTotalTimeoutConstant < platform::kMaxDword) {
        const Clock::time_point until =
            std::min(cancelAt, start + std::chrono::milliseconds(t.readTotalTimeoutConstant));
        arrived_.wait_until(lock, until, [this] { return !input_.empty() || broken_; });
        done += TakeLocked(buffer + done, count - done);
        if (done == 0 && broken_) {
            return {false, false, 0};
        }
        if (done == 0 && Clock::now() >= cancelAt && until == cancelAt) {
            return {false, true, 0};
        }
        return {true, false, done};
    }

    const std::optional<Clock::time_point> total =
        TotalDeadline(start, t.readTotalTimeoutMultiplier, t.readTotalTimeoutConstant, count);
    std::optional<Clock::time_point> lastByte;
    if (done > 0) {
        lastByte = Clock::now();
    }
    while (done < count) {
        std::optional<Clock::time_point> deadline = total;
        if (t.readIntervalTimeout != 0 && lastByte) {
            const Clock::time_point gap =
                *lastByte + std::chrono::milliseconds(t.readIntervalTimeout);
            deadline = deadline ? std::min(*deadline, gap) : gap;
        }
        const Clock::time_point until = deadline ? std::min(*deadline, cancelAt) : cancelAt;
        arrived_.wait_until(lock, until, [this] { return !input_.empty() || broken_; });
        const std::size_t got = TakeLocked(buffer + done, count - done);
        done += got;
        if (done == count) {
            break;
        }
        if (broken_) {
            return {false, false, done};
        }
        if (got > 0) {
            lastByte = Clock::now();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (deadline && now >= *deadline) {
            return {true, false, done};
        }
        if (now >= cancelAt) {
            return {false, true, 0};
        }
    }
    return {true, false, done};
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
