#include "protocol/device_number.h"

#include <array>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using Bytes4 = std::array<std::uint8_t, 4>;
using Bytes8 = std::array<std::uint8_t, 8>;

Bytes4 Four(float value, Bytes4 start = {0xAA, 0xAA, 0xAA, 0xAA}) {
    protocol::ToDeviceNumber4(value, start.data());
    return start;
}

Bytes8 Eight(long double value, Bytes8 start = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}) {
    protocol::ToDeviceNumber8(value, start.data());
    return start;
}

TEST(DeviceNumber4, StoresDigitsAndExcess128Exponent) {
    EXPECT_EQ(Four(1.0f), (Bytes4{0x00, 0x00, 0x01, 0x81}));
    EXPECT_EQ(Four(0.5f), (Bytes4{0x00, 0x00, 0x05, 0x80}));
    EXPECT_EQ(Four(12.345f), (Bytes4{0x45, 0x23, 0x01, 0x82}));
    EXPECT_EQ(Four(100.0f), (Bytes4{0x00, 0x00, 0x01, 0x83}));
    EXPECT_EQ(Four(1000.0f), (Bytes4{0x00, 0x00, 0x01, 0x84}));
    EXPECT_EQ(Four(0.012f), (Bytes4{0x00, 0x20, 0x01, 0x7F}));
    EXPECT_EQ(Four(65.4321f), (Bytes4{0x32, 0x54, 0x06, 0x82}));
}

TEST(DeviceNumber4, RoundsHalfUpAndCarriesIntoTheExponent) {
    EXPECT_EQ(Four(9.99996f), (Bytes4{0x00, 0x00, 0x01, 0x82}));
    EXPECT_EQ(Four(1.234549f), (Bytes4{0x45, 0x23, 0x01, 0x81}));
    EXPECT_EQ(Four(1.23456f), (Bytes4{0x46, 0x23, 0x01, 0x81}));
    EXPECT_EQ(Four(1.99994f), (Bytes4{0x99, 0x99, 0x01, 0x81}));
    EXPECT_EQ(Four(1.99999f), (Bytes4{0x00, 0x00, 0x02, 0x81}));
    // Half-way sixth digits: 0.266615003 has the digits 2 6 6 6 1 5..., -10.3725004 has
    // 1 0 3 7 2 5...; both round up.
    EXPECT_EQ(Four(0.266615003f), (Bytes4{0x62, 0x66, 0x02, 0x80}));
    EXPECT_EQ(Four(-10.3725004f), (Bytes4{0x27, 0x96, 0x98, 0x82}));
}

TEST(DeviceNumber4, NegativeNumbersAreComplemented) {
    EXPECT_EQ(Four(-1.0f), (Bytes4{0x9A, 0x99, 0x98, 0x81}));
    // 12.345: 45 23 01 -> 0x012345 from 0x99999A = 0x987655
    EXPECT_EQ(Four(-12.345f), (Bytes4{0x55, 0x76, 0x98, 0x82}));
}

TEST(DeviceNumber4, ZeroTinyHugeAndNotANumber) {
    EXPECT_EQ(Four(0.0f), (Bytes4{0, 0, 0, 0}));
    EXPECT_EQ(Four(1e-31f), (Bytes4{0, 0, 0, 0}));
    EXPECT_EQ(Four(-0.0f), (Bytes4{0, 0, 0, 0}));
    // Out of range leaves the destination as it was.
    EXPECT_EQ(Four(1e31f), (Bytes4{0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(Four(-std::numeric_limits<float>::infinity()), (Bytes4{0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(Four(std::numeric_limits<float>::quiet_NaN()), (Bytes4{0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST(DeviceNumber8, StoresSevenDigits) {
    EXPECT_EQ(Eight(1.0L), (Bytes8{0, 0, 0, 0x00, 0x00, 0x00, 0x01, 0x81}));
    EXPECT_EQ(Eight(123.4567L), (Bytes8{0, 0, 0, 0x67, 0x45, 0x23, 0x01, 0x83}));
    EXPECT_EQ(Eight(0.0L), (Bytes8{0, 0, 0, 0, 0, 0, 0, 0}));
    // Hours from a seconds counter: 5400 s = 1.5 h.
    EXPECT_EQ(Eight(5400.0L / 3600.0L), (Bytes8{0, 0, 0, 0x00, 0x00, 0x50, 0x01, 0x81}));
}

TEST(DeviceNumber8, RoundsAtTheEighthDigit) {
    EXPECT_EQ(Eight(9.9999996L), (Bytes8{0, 0, 0, 0x00, 0x00, 0x00, 0x01, 0x82}));
    EXPECT_EQ(Eight(1.23456749L), (Bytes8{0, 0, 0, 0x67, 0x45, 0x23, 0x01, 0x81}));
    EXPECT_EQ(Eight(1.2345676L), (Bytes8{0, 0, 0, 0x68, 0x45, 0x23, 0x01, 0x81}));
}

TEST(DeviceNumber8, NegativeNumbersComplementBothHalves) {
    // Bytes 0..3 of 1.0 are zero: 0x9999999A; bytes 4..6 are 00 00 01: 0x999999 - 0x010000.
    EXPECT_EQ(Eight(-1.0L), (Bytes8{0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0x98, 0x81}));
    Bytes8 untouched = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(Eight(1e40L, untouched), untouched);
}

}  // namespace
