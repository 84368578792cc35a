// The frame link of a modem call: framed reads and writes are the modem library's own calls
// (it builds and checks the frames on its side of the call); raw frames and draining go
// through its raw read and write.
#pragma once

#include "protocol/frame_link.h"
#include "protocol/modem_exports.h"

namespace protocol {

class ModemLink : public FrameLink {
  public:
    // `callHandle` is what the library gave for the call; 0 means no call.
    ModemLink(std::uint32_t slot, std::uintptr_t callHandle,
              ModemExports& exports = DefaultModemExports());

    bool SendFrame(std::span<const std::uint8_t> frame) override;
    bool Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) override;
    bool ReadExchange(std::uint8_t abonent, std::uint16_t address, unsigned count,
                      std::uint8_t* destination) override;
    bool WriteExchange(std::uint8_t abonent, std::uint16_t address,
                       std::span<const std::uint8_t> data) override;
    bool DrainByte(std::uint32_t gapMs) override;
    bool WaitsBetweenAttempts() const override { return false; }
    bool CanRecover() const override { return callHandle_ != 0; }

  private:
    std::uint32_t slot_;
    std::uintptr_t callHandle_;
    ModemExports& exports_;
};

}  // namespace protocol
