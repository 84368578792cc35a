// What the library's own tests reach past the sixteen exports: the clock, the long waits, the
// load and unload steps and a view of a slot. Not exported from libtarvex.so.
#pragma once

#include <cstdint>
#include <functional>

namespace tarvex {

// A local date and time with milliseconds; month 0 means "never stamped".
struct LocalTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
};

// The waits of the library. One "second" of the callers' time-outs is `secondMs`.
struct Timings {
    std::uint32_t secondMs = 1000;
    std::uint32_t dropWaitMs = 10000;
    std::uint32_t shutdownWaitMs = 10000;
    std::uint32_t periodicCheckMs = 60000;
    std::uint32_t transferLimitMs = 10000;
};

namespace internal {

void SetTimings(const Timings& timings);
// From now on the events of calls cannot be made, as when no descriptor is left.
void SetEventsFail(bool fail);
// Replaces the millisecond counter and the local clock; empty functions restore the real ones.
void SetClock(std::function<std::uint32_t()> tickMs, std::function<LocalTime()> now);

// What loading and unloading the library do; the library calls them itself at load and unload.
bool Load();
void Unload();

struct SlotView {
    bool lineOpen = false;
    bool callValid = false;
    bool connected = false;
    bool channelOpen = false;
    bool callEnded = false;
    bool answerMode = false;
    bool offeredPending = false;
    bool usesTapi = false;
    bool answerPending = false;
    std::uint32_t callHandle = 0;
    std::uint32_t portNumber = 0;
    std::uint32_t deviceMaxRate = 0;
    std::uint32_t connectionRate = 0;
    bool tapiInitialised = false;
};
bool ViewSlot(std::uint32_t slot, SlotView& view);

}  // namespace internal
}  // namespace tarvex
