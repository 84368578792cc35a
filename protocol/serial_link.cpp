#include "protocol/serial_link.h"

namespace protocol {

SerialLink::SerialLink(platform::SerialPort& port, const platform::DeviceControl& deviceControl,
                       std::uint32_t addressPauseMs)
    : port_(port), deviceControl_(deviceControl), addressPauseMs_(addressPauseMs) {}

bool SerialLink::SetLineParity(platform::Parity parity) {
    deviceControl_.parity = parity;
    return port_.SetCommState(deviceControl_);
}

bool SerialLink::SendFrame(std::span<const std::uint8_t> frame) {
    if (frame.empty()) {
        return false;
    }
    std::size_t done = 0;
    if (!SetLineParity(platform::kMarkParity) || !port_.Write(frame.data(), 1, done) || done != 1) {
        return false;
    }
    Wait(addressPauseMs_);
    if (!SetLineParity(platform::kSpaceParity)) {
        return false;
    }
    const std::size_t rest = frame.size() - 1;
    return port_.Write(frame.data() + 1, rest, done) && done == rest;
}

bool SerialLink::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) {
    received = 0;
    return port_.Read(buffer, capacity, received);
}

void SerialLink::DiscardInput() {
    port_.PurgeInput();
}

}  // namespace protocol
