#include "emulators/emulator_support.h"

#include <cerrno>
#include <cstdio>

namespace emulators {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char cell[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X", b);
        if (!text.empty()) {
            text += ' ';
        }
        text += cell;
    }
    return text;
}

timespec ToTimespec(std::chrono::steady_clock::duration d) {
    if (d < std::chrono::steady_clock::duration::zero()) {
        d = std::chrono::steady_clock::duration::zero();
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

int WaitForSignal(const sigset_t& signals,
                  std::optional<std::chrono::steady_clock::time_point> deadline) {
    for (;;) {
        if (!deadline) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0) {
                return signal;
            }
            continue;
        }
        const auto left = *deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return 0;
        }
        const timespec timeout = ToTimespec(left);
        const int signal = sigtimedwait(&signals, nullptr, &timeout);
        if (signal > 0) {
            return signal;
        }
        if (errno != EAGAIN && errno != EINTR) {
            return 0;
        }
    }
}

std::optional<std::chrono::steady_clock::time_point> DurationDeadline(unsigned seconds) {
    if (seconds == 0) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

}  // namespace emulators
