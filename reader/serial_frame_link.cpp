#include "reader/serial_frame_link.h"

namespace reader {

void PrintFrame(std::FILE* out, std::span<const std::uint8_t> frame) {
    for (std::uint8_t byte : frame) {
        std::fprintf(out, "%#x ", static_cast<unsigned>(byte));
    }
    std::fprintf(out, " \n");
    std::fflush(out);
}

SerialFrameLink::SerialFrameLink(platform::SerialPort& port,
                                 const platform::DeviceControl& deviceControl, std::FILE* out,
                                 std::uint32_t addressPauseMs)
    : SerialLink(port, deviceControl, addressPauseMs), out_(out) {}

bool SerialFrameLink::SendFrame(std::span<const std::uint8_t> frame) {
    if (!frame.empty()) {
        PrintFrame(out_, frame);
    }
    return SerialLink::SendFrame(frame);
}

}  // namespace reader
