#include "protocol/modem_link.h"

#include <algorithm>
#include <array>

namespace protocol {

ModemLink::ModemLink(std::uint32_t slot, std::uintptr_t callHandle, ModemExports& exports)
    : slot_(slot), callHandle_(callHandle), exports_(exports) {}

bool ModemLink::SendFrame(std::span<const std::uint8_t> frame) {
    if (frame.empty()) {
        return false;
    }
    const auto length = static_cast<std::uint32_t>(frame.size());
    return exports_.ModemWrite(slot_, length, frame.data()) == length;
}

bool ModemLink::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received) {
    // A raw read ends on the call's own time-outs; it takes at most 256 bytes at a time.
    constexpr std::size_t kMaxRawRead = 256;
    received = 0;
    while (received < capacity) {
        const std::size_t asked = std::min(capacity - received, kMaxRawRead);
        const std::uint32_t got =
            exports_.ModemRead(slot_, static_cast<std::uint32_t>(asked), buffer + received);
        received += got;
        if (got < asked) {
            break;
        }
    }
    return true;
}

bool ModemLink::ReadExchange(std::uint8_t abonent, std::uint16_t address, unsigned count,
                             std::uint8_t* destination) {
    std::array<std::uint8_t, 256> scratch{};
    if (count < 1 || count > scratch.size()) {
        return false;
    }
    std::uint8_t* target = destination != nullptr ? destination : scratch.data();
    return exports_.ModemReadHC(slot_, abonent, address, count, target) == count;
}

bool ModemLink::WriteExchange(std::uint8_t abonent, std::uint16_t address,
                              std::span<const std::uint8_t> data) {
    const auto count = static_cast<std::uint32_t>(data.size());
    return exports_.ModemWriteHC(slot_, abonent, address, count, data.data()) == count;
}

bool ModemLink::DrainByte(std::uint32_t /*gapMs*/) {
    std::uint8_t byte = 0;
    return exports_.ModemRead(slot_, 1, &byte) == 1;
}

}  // namespace protocol
