// Win32-like events on eventfd, so that one poll() can wait for several of them together with
// serial ports, timers and pipes.
#pragma once

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <optional>

namespace platform {

class Event {
  public:
    enum class Kind { kAutoReset, kManualReset };

    // Throws std::system_error when no descriptor is left.
    explicit Event(Kind kind = Kind::kAutoReset, bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when signalled within `timeout` (nullopt: for ever). An auto-reset event is taken
    // by exactly one waiter.
    bool Wait(std::optional<std::chrono::milliseconds> timeout);
    // Looks without taking it.
    bool IsSet() const;

    // For poll(): readable while signalled.
    int Fd() const { return fd_; }
    // After poll() said readable: takes the signal of an auto-reset event. False when another
    // waiter was quicker (then keep waiting).
    bool Take();

  private:
    int fd_ = -1;
    bool manual_;
};

// WaitForMultipleObjects: the index of the first signalled event in the list (taking it when it
// is auto-reset), or nullopt when `timeout` ran out first.
std::optional<std::size_t> WaitForAny(std::initializer_list<Event*> events,
                                      std::optional<std::chrono::milliseconds> timeout);

}  // namespace platform
