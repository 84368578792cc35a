// Small pieces every emulator and the devemu commands share: trace text, poll timeouts and the
// wait for the signal that stops a command.
#pragma once

#include <signal.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace emulators {

// "01 08 2E" for a trace line.
std::string Hex(std::span<const std::uint8_t> bytes);

// A ppoll timeout; a negative duration is zero.
timespec ToTimespec(std::chrono::steady_clock::duration d);

// Waits for one of `signals` (blocked by the caller) until `deadline` (none: for ever). The
// signal's number, or 0 when the deadline came first.
int WaitForSignal(const sigset_t& signals,
                  std::optional<std::chrono::steady_clock::time_point> deadline);

// The deadline of a command's --duration; none for 0 (run until stopped).
std::optional<std::chrono::steady_clock::time_point> DurationDeadline(unsigned seconds);

}  // namespace emulators
