#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace platform {

inline void SleepMs(std::uint32_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

// Milliseconds on a monotonic clock (GetTickCount).
inline std::uint64_t TickMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace platform
