#include "protocol/frames.h"

#include <iterator>

namespace protocol {

std::uint8_t Checksum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<std::uint8_t>(sum);
}

std::vector<std::uint8_t> BuildReadRequest(std::uint8_t abonent, std::uint16_t address,
                                           unsigned count) {
    std::vector<std::uint8_t> frame = {abonent,
                                       kReadFunction,
                                       0x02,
                                       static_cast<std::uint8_t>(address >> 8),
                                       static_cast<std::uint8_t>(address & 0xFF),
                                       static_cast<std::uint8_t>(count - 1)};
    frame.push_back(Checksum(frame));
    return frame;
}

std::vector<std::uint8_t> BuildWriteRequest(std::uint8_t abonent, std::uint16_t address,
                                            std::span<const std::uint8_t> data) {
    const std::uint8_t head[] = {
        abonent, kWriteFunction, static_cast<std::uint8_t>(data.size() + 1),
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF)};
    std::vector<std::uint8_t> frame;
    frame.reserve(sizeof head + data.size() + 1);
    frame.insert(frame.end(), std::begin(head), std::end(head));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(Checksum(frame));
    return frame;
}

bool IsValidReadAnswer(std::span<const std::uint8_t> answer, unsigned count) {
    if (answer.size() != ReadAnswerLength(count)) {
        return false;
    }
    if (answer[0] != 0 || answer[1] != 0 || answer[2] != static_cast<std::uint8_t>(count - 1)) {
        return false;
    }
    return Checksum(answer.first(answer.size() - 1)) == answer.back();
}

bool IsWriteAcknowledgement(std::span<const std::uint8_t> answer) {
    return answer.size() == 3 && answer[0] == 0x00 && answer[1] == 0x50 && answer[2] == 0x50;
}

}  // namespace protocol
