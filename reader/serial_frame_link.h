// quellar's frame link: its COM port, with every request frame printed in hexadecimal.
#pragma once

#include <cstdio>

#include "protocol/serial_link.h"

namespace reader {

class SerialFrameLink : public protocol::SerialLink {
  public:
    SerialFrameLink(platform::SerialPort& port, const platform::DeviceControl& deviceControl,
                    std::FILE* out, std::uint32_t addressPauseMs);

    bool SendFrame(std::span<const std::uint8_t> frame) override;

  private:
    std::FILE* out_;
};

// "%#x " for every byte, then " " and a line end.
void PrintFrame(std::FILE* out, std::span<const std::uint8_t> frame);

}  // namespace reader
