// The frame link of a multi-drop serial line: the address byte goes alone under MARK parity,
// the rest of the request under SPACE, answers are read under SPACE with the port's time-outs.
#pragma once

#include "platform/serial_port.h"
#include "protocol/frame_link.h"

namespace protocol {

class SerialLink : public FrameLink {
  public:
    // The port stays its owner's. `deviceControl` is the block the port was set up with; only
    // its parity byte changes from frame to frame.
    SerialLink(platform::SerialPort& port, const platform::DeviceControl& deviceControl,
               std::uint32_t addressPauseMs = 10);

    bool SendFrame(std::span<const std::uint8_t> frame) override;
    bool Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) override;
    void DiscardInput() override;
    bool SetLineParity(platform::Parity parity) override;

    platform::SerialPort& Port() { return port_; }

  private:
    platform::SerialPort& port_;
    platform::DeviceControl deviceControl_;
    std::uint32_t addressPauseMs_;
};

}  // namespace protocol
