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

// The serving thread of an emulated line waits and writes through these; each ends early, with
// false, once `wake` (the line's eventfd) is signalled to stop the line.
// Waits until `deadline`.
bool WaitOrStop(int wake, std::chrono::steady_clock::time_point deadline);
// Writes everything to the pseudo-terminal's master, waiting while the client's queue is full.
// False with errno set after a write error, with errno 0 when the line is stopped.
bool WriteAllOrStop(int master, int wake, std::span<const std::uint8_t> bytes);
// Byte by byte, `byteTime` apart from the first (absolute times, so the writing does not add
// up), as a UART puts an answer on the wire; all at once for a zero `byteTime`. As above.
bool WritePacedOrStop(int master, int wake, std::span<const std::uint8_t> bytes,
                      std::chrono::steady_clock::duration byteTime);

// Waits for one of `signals` (blocked by the caller) until `deadline` (none: for ever). The
// signal's number, or 0 when the deadline came first.
int WaitForSignal(const sigset_t& signals,
                  std::optional<std::chrono::steady_clock::time_point> deadline);

// The deadline of a command's --duration; none for 0 (run until stopped).
std::optional<std::chrono::steady_clock::time_point> DurationDeadline(unsigned seconds);

}  // namespace emulators
