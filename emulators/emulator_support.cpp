#include "emulators/emulator_support.h"

#include <poll.h>
#include <unistd.h>

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

bool WaitOrStop(int wake, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return true;
        }
        const timespec remaining = ToTimespec(deadline - now);
        pollfd fd{wake, POLLIN, 0};
        const int r = ppoll(&fd, 1, &remaining, nullptr);
        if (r > 0 || (r < 0 && errno != EINTR)) {
            return false;
        }
    }
}

bool WriteAllOrStop(int master, int wake, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(master, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        // The client's input queue is full: wait until it reads, or until we are stopped.
        pollfd fds[2] = {{wake, POLLIN, 0}, {master, POLLOUT, 0}};
        const int r = ppoll(fds, 2, nullptr, nullptr);
        if ((r < 0 && errno != EINTR) || fds[0].revents != 0) {
            errno = 0;
            return false;
        }
    }
    return true;
}

bool WritePacedOrStop(int master, int wake, std::span<const std::uint8_t> bytes,
                      std::chrono::steady_clock::duration byteTime) {
    if (byteTime == std::chrono::steady_clock::duration::zero()) {
        return WriteAllOrStop(master, wake, bytes);
    }
    // A byte is there only once its stop bit has gone over the wire.
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!WaitOrStop(wake, start + static_cast<long>(i + 1) * byteTime)) {
            errno = 0;
            return false;
        }
        if (!WriteAllOrStop(master, wake, bytes.subspan(i, 1))) {
            return false;
        }
    }
    return true;
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
