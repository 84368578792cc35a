// Request and answer frames of the heat calculator's two services: read and write memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace protocol {

inline constexpr std::uint8_t kReadFunction = 0x08;
inline constexpr std::uint8_t kWriteFunction = 0x09;
inline constexpr unsigned kMaxReadCount = 256;
inline constexpr unsigned kMaxWriteCount = 254;

// Sum modulo 256 of the bytes.
std::uint8_t Checksum(std::span<const std::uint8_t> bytes);

// 7 bytes: address, 08, 02, address high, address low, count - 1, checksum. count 1..256.
std::vector<std::uint8_t> BuildReadRequest(std::uint8_t abonent, std::uint16_t address,
                                           unsigned count);
// count + 6 bytes: address, 09, count + 1, address high, address low, data, checksum.
std::vector<std::uint8_t> BuildWriteRequest(std::uint8_t abonent, std::uint16_t address,
                                            std::span<const std::uint8_t> data);

inline constexpr std::size_t ReadAnswerLength(unsigned count) {
    return count + 4;
}

// A read answer is 00 00 (count - 1) data checksum, exactly count + 4 bytes.
bool IsValidReadAnswer(std::span<const std::uint8_t> answer, unsigned count);
// The write acknowledgement is exactly 00 50 50.
bool IsWriteAcknowledgement(std::span<const std::uint8_t> answer);

}  // namespace protocol
