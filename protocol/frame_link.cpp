#include "protocol/frame_link.h"

#include <algorithm>

#include "platform/sleep.h"
#include "protocol/frames.h"

namespace protocol {
namespace {

class NoLink final : public FrameLink {
  public:
    bool SendFrame(std::span<const std::uint8_t>) override { return false; }
    bool Receive(std::uint8_t*, std::size_t, std::size_t& received) override {
        received = 0;
        return false;
    }
    bool CanRecover() const override { return false; }
};

}  // namespace

void FrameLink::Wait(std::uint32_t ms) {
    platform::SleepMs(ms);
}

bool FrameLink::ReadExchange(std::uint8_t abonent, std::uint16_t address, unsigned count,
                             std::uint8_t* destination) {
    if (count < 1 || count > kMaxReadCount) {
        return false;
    }
    std::uint8_t answer[ReadAnswerLength(kMaxReadCount)];
    const std::size_t expected = ReadAnswerLength(count);
    std::size_t received = 0;
    if (!SendFrame(BuildReadRequest(abonent, address, count)) ||
        !Receive(answer, expected, received) ||
        !IsValidReadAnswer(std::span(answer, received), count)) {
        return false;
    }
    if (destination != nullptr) {
        std::copy(answer + 3, answer + 3 + count, destination);
    }
    return true;
}

bool FrameLink::WriteExchange(std::uint8_t abonent, std::uint16_t address,
                              std::span<const std::uint8_t> data) {
    std::uint8_t ack[3] = {};
    std::size_t received = 0;
    return SendFrame(BuildWriteRequest(abonent, address, data)) && Receive(ack, 3, received) &&
           IsWriteAcknowledgement(std::span(ack, received));
}

bool FrameLink::DrainByte(std::uint32_t gapMs) {
    std::uint8_t byte = 0;
    std::size_t received = 0;
    if (!Receive(&byte, 1, received) || received != 1) {
        return false;
    }
    Wait(gapMs);
    return true;
}

FrameLink& UnconnectedLink() {
    static NoLink link;
    return link;
}

}  // namespace protocol
