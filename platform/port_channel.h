// What a SerialPort needs from the line under it: a local terminal or a network serial port.
// The Win32 read rules and time-outs live above, in SerialPort, the same for every channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/read_policy.h"
#include "platform/serial_port.h"

namespace platform {

enum class WaitResult { kReady, kTimedOut, kFailed };

// Waits for `events` on fd until the deadline (none: for ever). Hang-ups count as ready; the
// read or write that follows reports them.
WaitResult WaitForHandle(int fd, short events, Deadline deadline);

enum class Descriptor : std::uint8_t { kTerminal, kSocket };

// Writes until `count` bytes are out (`done` grows) or the deadline runs out (errno ETIMEDOUT).
bool WriteUntil(int fd, Descriptor kind, const std::uint8_t* buffer, std::size_t count,
                std::size_t& done, Deadline deadline);

// Whether a line can be set as the block asks (character size, parity code, stop bits).
bool DeviceControlFits(const DeviceControl& dcb);

class PortChannel {
  public:
    virtual ~PortChannel() = default;

    // SetCommState: false, with errno set, when the block is refused or cannot be applied.
    virtual bool Configure(const DeviceControl& dcb) = 0;
    virtual DeviceControl Current() const = 0;

    // Takes what has arrived without waiting, up to `count` bytes in all (`done` grows).
    // False on an error or when the other side is gone.
    virtual bool ReadAvailable(std::uint8_t* buffer, std::size_t count, std::size_t& done) = 0;
    // False on an error or when the deadline ran out (errno ETIMEDOUT).
    virtual bool Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done,
                       Deadline deadline) = 0;

    // The descriptor to poll for incoming bytes.
    virtual int PollHandle() const = 0;
    virtual void PurgeInput() = 0;

    // TIOCM_* bits of the modem status lines; none when the line has no such lines.
    virtual std::optional<int> ModemLines() = 0;
    virtual bool SetDtr(bool on) = 0;

    virtual bool SwitchesParity() const { return true; }
    virtual bool UsesParityEmulation() const { return false; }
    // Added to the read and write time-outs for the delays the line adds on its own.
    virtual std::uint32_t LatencyAllowanceMs() const { return 0; }
};

}  // namespace platform
