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
    : port_(port), deviceControl_(deviceControl), out_(out), addressPauseMs_(addressPauseMs) {}

bool SerialFrameLink::SetParity(std::uint8_t parity) {
    deviceControl_.parity = parity;
    return port_.SetCommState(deviceControl_);
}

bool SerialFrameLink::SendFrame(std::span<const std::uint8_t> frame) {
    if (frame.empty()) {
        return false;
    }
    PrintFrame(out_, frame);
    std::size_t done = 0;
    if (!SetParity(platform::kMarkParity) || !port_.Write(frame.data(), 1, done) || done != 1) {
        return false;
    }
    Wait(addressPauseMs_);
    if (!SetParity(platform::kSpaceParity)) {
        return false;
    }
    const std::size_t rest = frame.size() - 1;
    return port_.Write(frame.data() + 1, rest, done) && done == rest;
}

bool SerialFrameLink::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) {
    return port_.Read(buffer, capacity, received);
}

void SerialFrameLink::DiscardInput() {
    port_.PurgeInput();
}

}  // namespace reader
