// Decimal floating numbers of the device: BCD digits with an excess-128 exponent.
#pragma once

#include <cstdint>

namespace protocol {

// value = 0.d0d1d2d3d4 x 10^e: bytes d3d4, d1d2, d0, e + 128. Magnitudes above 1e30 (and values
// that are not numbers) leave the destination unchanged; below 1e-30 they are stored as zero.
void ToDeviceNumber4(float value, std::uint8_t destination[4]);
// Seven digits: 00 00 00 d5d6 d3d4 d1d2 d0 (e + 128).
void ToDeviceNumber8(long double value, std::uint8_t destination[8]);

}  // namespace protocol
