// quellar's frame link: its COM port, with every request frame printed in hexadecimal.
#pragma once

#include <cstdio>

#include "platform/serial_port.h"
#include "reader/line_executor.h"

namespace reader {

class SerialFrameLink : public FrameLink {
  public:
    SerialFrameLink(platform::SerialPort& port, const platform::DeviceControl& deviceControl,
                    std::FILE* out, std::uint32_t addressPauseMs);

    bool SendFrame(std::span<const std::uint8_t> frame) override;
    bool Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) override;
    void DiscardInput() override;

  private:
    bool SetParity(std::uint8_t parity);

    platform::SerialPort& port_;
    platform::DeviceControl deviceControl_;
    std::FILE* out_;
    std::uint32_t addressPauseMs_;
};

// "%#x " for every byte, then " " and a line end.
void PrintFrame(std::FILE* out, std::span<const std::uint8_t> frame);

}  // namespace reader
