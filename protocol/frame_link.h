// How the protocol reaches a heat calculator: the COM port of a multi-drop line, or a modem call.
// The protocol object and the parameter-list executor talk through this one interface, so
// neither knows which transport is under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/serial_port.h"

namespace protocol {

class FrameLink {
  public:
    virtual ~FrameLink() = default;

    // One request: on a serial line the address byte alone with MARK parity, a short pause, the
    // rest with SPACE parity.
    virtual bool SendFrame(std::span<const std::uint8_t> frame) = 0;
    // Up to `capacity` bytes; ends when they came or on the line's time-outs.
    virtual bool Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) = 0;
    // Drops whatever a late answer left in the input, before a new attempt.
    virtual void DiscardInput() {}
    virtual void Wait(std::uint32_t ms);

    // One read exchange: true with `count` validated bytes in `destination`.
    virtual bool ReadExchange(std::uint8_t abonent, std::uint16_t address, unsigned count,
                              std::uint8_t* destination);
    // One write exchange: true when the device acknowledged.
    virtual bool WriteExchange(std::uint8_t abonent, std::uint16_t address,
                               std::span<const std::uint8_t> data);
    // Takes one stale byte of input and then lets `gapMs` pass; false when no byte came.
    virtual bool DrainByte(std::uint32_t gapMs);

    // MARK or SPACE for the bytes that follow; a modem call has no parity to set.
    virtual bool SetLineParity(platform::Parity /*parity*/) { return true; }
    // A serial line is paced by the reader: it waits between attempts and before a probe.
    // A modem call has its own time-outs and waits nothing extra.
    virtual bool WaitsBetweenAttempts() const { return true; }
    // False while there is nothing to bring back into step (a modem link without a call).
    virtual bool CanRecover() const { return true; }
};

// A link to nothing: every exchange fails. For objects that read no device (a УПД dump).
FrameLink& UnconnectedLink();

}  // namespace protocol
