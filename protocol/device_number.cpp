#include "protocol/device_number.h"

#include <cmath>
#include <cstring>

namespace protocol {
namespace {

struct Decimal {
    bool negative = false;
    bool zero = false;
    int exponent = 0;
    int digits[7] = {};
};

// |x| / 10^k, by an exact power of ten (every 10^n up to 10^27 is exact in long double).
long double Mantissa(long double magnitude, int k) {
    long double power = 1.0L;
    for (int i = 0; i < (k < 0 ? -k : k); ++i) {
        power *= 10.0L;
    }
    return k < 0 ? magnitude * power : magnitude / power;
}

// Splits |x| into `kept` decimal digits d0.. (d0 = 1..9) and the exponent e of 0.d0d1.. x 10^e.
// The digits come from the mantissa in fixed point with 24 fraction bits, `taken` in all, and
// the digit after the kept ones rounds half up. Returns false when x is out of range.
bool Decompose(long double x, int kept, int taken, Decimal& out) {
    if (std::isnan(x)) {
        return false;
    }
    out.negative = x < 0;
    const long double magnitude = std::fabs(x);
    if (magnitude > 1e30L) {
        return false;
    }
    if (magnitude < 1e-30L) {
        out.zero = true;
        return true;
    }
    // m = |x| / 10^k in [1, 10) and e = k + 1, so that |x| = 0.d0d1... x 10^e. Dividing by an
    // exact power of ten keeps m as close to the true mantissa as the arithmetic allows; a
    // logarithm's rounding could push a half-way digit to either side.
    int k = static_cast<int>(std::floor(std::log10(magnitude)));
    long double m = Mantissa(magnitude, k);
    if (m >= 10.0L) {
        ++k;
        m = Mantissa(magnitude, k);
    } else if (m < 1.0L) {
        --k;
        m = Mantissa(magnitude, k);
    }
    int e = k + 1;
    constexpr std::uint64_t kOne = 1u << 24;
    std::uint64_t fixed = static_cast<std::uint64_t>(m * static_cast<long double>(kOne));
    int digits[16] = {};
    digits[0] = static_cast<int>(fixed >> 24);
    fixed &= kOne - 1;
    for (int i = 1; i < taken; ++i) {
        fixed *= 10;
        digits[i] = static_cast<int>(fixed >> 24);
        fixed &= kOne - 1;
    }
    if (digits[kept] > 4) {
        int i = kept - 1;
        while (i >= 0) {
            digits[i] += 1;
            if (digits[i] < 10) {
                break;
            }
            digits[i] = 0;
            --i;
        }
        if (digits[0] == 0) {  // the carry ran through d0
            digits[0] = 1;
            e += 1;
        }
    }
    out.exponent = e;
    for (int i = 0; i < kept; ++i) {
        out.digits[i] = digits[i];
    }
    return true;
}

std::uint8_t Pair(int high, int low) {
    return static_cast<std::uint8_t>((high << 4) | low);
}

std::uint32_t LittleEndian(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void StoreLittleEndian(std::uint32_t value, std::uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

void ToDeviceNumber4(float value, std::uint8_t destination[4]) {
    Decimal d;
    if (!Decompose(value, 5, 6, d)) {
        return;
    }
    if (d.zero) {
        std::memset(destination, 0, 4);
        return;
    }
    destination[0] = Pair(d.digits[3], d.digits[4]);
    destination[1] = Pair(d.digits[1], d.digits[2]);
    destination[2] = static_cast<std::uint8_t>(d.digits[0]);
    destination[3] = static_cast<std::uint8_t>(d.exponent + 128);
    if (d.negative) {
        StoreLittleEndian(0x99999Au - LittleEndian(destination, 3), destination, 3);
    }
}

void ToDeviceNumber8(long double value, std::uint8_t destination[8]) {
    Decimal d;
    if (!Decompose(value, 7, 13, d)) {
        return;
    }
    if (d.zero) {
        std::memset(destination, 0, 8);
        return;
    }
    destination[0] = 0;
    destination[1] = 0;
    destination[2] = 0;
    destination[3] = Pair(d.digits[5], d.digits[6]);
    destination[4] = Pair(d.digits[3], d.digits[4]);
    destination[5] = Pair(d.digits[1], d.digits[2]);
    destination[6] = static_cast<std::uint8_t>(d.digits[0]);
    destination[7] = static_cast<std::uint8_t>(d.exponent + 128);
    if (d.negative) {
        StoreLittleEndian(0x9999999Au - LittleEndian(destination, 4), destination, 4);
        StoreLittleEndian(0x999999u - LittleEndian(destination + 4, 3), destination + 4, 3);
    }
}

}  // namespace protocol
