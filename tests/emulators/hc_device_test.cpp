#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "emulators/hc_device.h"
#include "emulators/hc_values.h"
#include "tests/emulators/hc_test_client.h"

namespace emulators {
namespace {

using namespace hctest;
using namespace std::chrono_literals;

struct ExpectedField {
    std::uint8_t group, subgroup, field;
    std::uint16_t size;
};
constexpr ExpectedField kFields[] = {
    {101, 0, 30, 24}, {101, 0, 57, 16}, {101, 0, 58, 32},
    {101, 0, 40, 64}, {230, 1, 30, 32}, {230, 2, 30, 32},
};

class HcDeviceTest : public ::testing::Test {
  protected:
    HcConfig config_;
};

// ---- Frames ----------------------------------------------------------------------------------

TEST_F(HcDeviceTest, ReadFrameAnswersWithHeadDataAndChecksum) {
    HcDevice device(config_);
    device.Poke(0x1020, Bytes{0xAB, 0xCD});
    const Bytes request{0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C};
    EXPECT_EQ(MakeReadRequest(1, 0x1020, 2), request);
    const auto answer = device.HandleFrame(request);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (Bytes{0x00, 0x00, 0x01, 0xAB, 0xCD, 0x79}));

    const auto one = device.HandleFrame(MakeReadRequest(1, 0x1021, 1));
    ASSERT_TRUE(one);
    EXPECT_EQ(*one, (Bytes{0x00, 0x00, 0x00, 0xCD, 0xCD}));
}

TEST_F(HcDeviceTest, ReadOf256BytesFillsA260ByteAnswer) {
    HcDevice device(config_);
    Bytes pattern(256);
    for (unsigned i = 0; i < 256; ++i) {
        pattern[i] = static_cast<std::uint8_t>(i * 7);
    }
    device.Poke(0x4000, pattern);
    const Bytes request = MakeReadRequest(1, 0x4000, 256);
    EXPECT_EQ(request[5], 0xFF);
    const auto answer = device.HandleFrame(request);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 260u);
    EXPECT_EQ(Bytes(answer->begin() + 3, answer->end() - 1), pattern);
    EXPECT_EQ(WithChecksum(Bytes(answer->begin(), answer->end() - 1)), *answer);
}

TEST_F(HcDeviceTest, WriteIsAppliedAndAcknowledged) {
    HcDevice device(config_);
    const Bytes one = MakeWriteRequest(1, 0x2000, Bytes{0x5A});
    EXPECT_EQ(one, WithChecksum({0x01, 0x09, 0x02, 0x20, 0x00, 0x5A}));
    EXPECT_EQ(device.HandleFrame(one), (Bytes{0x00, 0x50, 0x50}));
    EXPECT_EQ(device.Peek(0x2000), 0x5A);

    const Bytes block(254, 0x33);
    const Bytes longest = MakeWriteRequest(1, 0x3000, block);
    EXPECT_EQ(longest[2], 0xFF);
    EXPECT_EQ(device.HandleFrame(longest), (Bytes{0x00, 0x50, 0x50}));
    EXPECT_EQ(device.Peek(0x3000 + 253), 0x33);
    EXPECT_EQ(device.Peek(0x3000 + 254), 0x00);

    const HcStats stats = device.Stats();
    EXPECT_EQ(stats.writeFrames, 2u);
    EXPECT_EQ(stats.commands, 0u);
}

TEST_F(HcDeviceTest, MalformedFramesGetNoAnswer) {
    HcDevice device(config_);
    Bytes wrongSum = MakeReadRequest(1, 0x1020, 2);
    wrongSum.back() ^= 0x01;
    EXPECT_FALSE(device.HandleFrame(wrongSum));
    EXPECT_FALSE(device.HandleFrame(WithChecksum({0x01, 0x0A, 0x02, 0x10, 0x20, 0x01})));
    EXPECT_FALSE(device.HandleFrame(WithChecksum({0x01, 0x08, 0x03, 0x10, 0x20, 0x01})));
    EXPECT_EQ(device.Stats().badFrames, 3u);

    // Another device's frame is not even counted.
    EXPECT_FALSE(device.HandleFrame(MakeReadRequest(2, 0x1020, 2)));
    EXPECT_EQ(device.Stats().framesReceived, 3u);
}

TEST_F(HcDeviceTest, UnknownVersionIsRefused) {
    config_.version = 44;
    EXPECT_THROW(HcDevice{config_}, std::invalid_argument);
}

// ---- Mailbox ---------------------------------------------------------------------------------

TEST_F(HcDeviceTest, AnswerShowsAfterTheConfiguredZeroStatusPolls) {
    config_.statusZeroPolls = 2;
    HcDevice device(config_);
    Client c(device);
    c.Write(kAnswerArea, {0x00});
    c.Write(kCommandArea, {53});
    EXPECT_EQ(c.Read(kAnswerArea, 9)[0], 0);
    EXPECT_EQ(c.Read(0x1070, 32)[0x10], 0);  // covers 0x1080 from below: a poll too
    EXPECT_EQ(c.Read(kAnswerArea, 9)[0], 1);
    EXPECT_EQ(c.Read(kAnswerArea, 9)[0], 1);

    const HcStats stats = device.Stats();
    EXPECT_EQ(stats.statusZeroAnswers, 2u);
    EXPECT_EQ(stats.commands, 1u);
    EXPECT_EQ(stats.commandLog, (std::vector<Bytes>{{53}}));
}

TEST_F(HcDeviceTest, ReadsBesideTheAnswerAreaAreNoPolls) {
    config_.statusZeroPolls = 1;
    HcDevice device(config_);
    Client c(device);
    c.Write(kCommandArea, {4});
    c.Read(0x1081, 8);
    c.Read(0x1060, 0x20);  // ends just before 0x1080
    EXPECT_EQ(device.Stats().statusZeroAnswers, 0u);
    EXPECT_EQ(c.Read(kAnswerArea, 1)[0], 0);
    EXPECT_EQ(c.Read(kAnswerArea, 1)[0], 1);
}

TEST_F(HcDeviceTest, SlowMailboxHoldsTheAnswerForItsDelay) {
    config_.mailboxDelayMs = 150;
    HcDevice device(config_);
    Client c(device);
    const auto start = std::chrono::steady_clock::now();
    c.Write(kCommandArea, {4});
    Bytes answer;
    for (int i = 0; i < 500; ++i) {
        answer = c.Read(kAnswerArea, 7);
        if (answer[0] != 0) {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(answer[0], 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
}

TEST_F(HcDeviceTest, ClearingTheStatusIsPlainMemory) {
    HcDevice device(config_);
    Client c(device);
    EXPECT_EQ(c.Command({53}, 9)[0], 1);
    c.Write(kAnswerArea, {0x00});
    EXPECT_EQ(c.Read(kAnswerArea, 9)[0], 0);
    EXPECT_EQ(c.Read(kAnswerArea, 9)[0], 0);
    EXPECT_EQ(device.Stats().statusZeroAnswers, 0u);  // no command pending: not held back
}

TEST_F(HcDeviceTest, ProbeAddressesAreReadable) {
    HcDevice device(config_);
    Client c(device);
    EXPECT_EQ(c.Read(0x1020, 2).size(), 2u);
    EXPECT_EQ(c.Read(0x1030, 3).size(), 3u);
    EXPECT_EQ(c.Read(0x1040, 4).size(), 4u);
}

// ---- Commands --------------------------------------------------------------------------------

TEST_F(HcDeviceTest, ClockCommandGivesTheDeviceTimeInBcd) {
    config_.clockEpoch = Utc(2024, 3, 15, 10, 20, 30);
    HcDevice device(config_);
    Client c(device);
    const Bytes answer = c.Command({4}, 7);
    ASSERT_EQ(answer.size(), 7u);
    EXPECT_EQ(answer[0], 1);
    EXPECT_GE(answer[1], 0x30);  // the clock runs from 10:20:30
    EXPECT_LE(answer[1], 0x59);
    EXPECT_EQ(Bytes(answer.begin() + 2, answer.end()), (Bytes{0x20, 0x10, 0x15, 0x03, 0x24}));
}

TEST_F(HcDeviceTest, IdentityCommandStartsWithTheFactoryNumber) {
    HcDevice device(config_);
    Client c(device);
    const Bytes answer = c.Command({53}, 9);
    ASSERT_EQ(answer[0], 1);
    const std::string number(answer.begin() + 1, answer.begin() + 6);
    for (char ch : number) {
        EXPECT_TRUE(ch >= '0' && ch <= '9') << number;
    }
    EXPECT_EQ(answer[6], 45);  // version
    EXPECT_EQ(answer[7], 1);   // address

    const auto field = FindInDeviceDirectory(c, 101, 0, 57);
    ASSERT_TRUE(field);
    EXPECT_EQ(c.Read(field->address, 5), Bytes(answer.begin() + 1, answer.begin() + 6));

    config_.seed = 2;
    HcDevice other(config_);
    Client c2(other);
    EXPECT_NE(c2.Command({53}, 9), answer);
}

TEST_F(HcDeviceTest, CurrentValuesArePlausible) {
    config_.clockEpoch = Utc(2024, 1, 10, 8, 0, 0);
    HcDevice device(config_);
    Client c(device);
    const Bytes r = c.Command({11}, 77);
    ASSERT_EQ(r.size(), 77u);
    EXPECT_EQ(r[0], 1);
    for (int p = 0; p < 4; ++p) {
        EXPECT_LT(r[4 + p], 10) << "error code of pipeline " << p + 1;
    }
    for (int p = 0; p < 4; ++p) {
        const std::size_t at = 13 + 16 * static_cast<std::size_t>(p);
        const double flow = DecodeNumber(r, at) * 360;
        const double power = DecodeNumber(r, at + 4) * 360;
        const double temperature = DecodeNumber(r, at + 8);
        const double pressure = DecodeNumber(r, at + 12);
        SCOPED_TRACE("pipeline " + std::to_string(p + 1));
        EXPECT_GT(flow, 0.5);
        EXPECT_LT(flow, 20.0);
        EXPECT_GT(power, 0.0);
        EXPECT_LT(power, 5.0);
        EXPECT_GE(temperature, 40.0);
        EXPECT_LE(temperature, 95.0);
        EXPECT_GE(pressure, 0.3);
        EXPECT_LE(pressure, 0.8);
    }
    // Heating supply is warmer than its return.
    EXPECT_GT(DecodeNumber(r, 13 + 8), DecodeNumber(r, 29 + 8));
}

TEST(HcValuesTest, CurrentValuesFollowSeedAndClock) {
    const std::int64_t t = Utc(2024, 1, 10, 8, 0, 0);
    EXPECT_EQ(CurrentValuesAnswer(7, t), CurrentValuesAnswer(7, t));
    EXPECT_NE(CurrentValuesAnswer(7, t), CurrentValuesAnswer(8, t));
    const auto now = CurrentPipelineValues(7, t);
    const auto later = CurrentPipelineValues(7, t + 300);
    EXPECT_NE(now[0].temperatureC, later[0].temperatureC);
    EXPECT_NEAR(now[0].temperatureC, later[0].temperatureC, 6.0);  // slow, not jumping
}

TEST(HcValuesTest, NumberEncodingMatchesTheWorkedExample) {
    // The form is not unique: 45 23 01 81 (0.012345 * 10^2) and the normalised
    // 50 34 12 80 (0.123450 * 10^1) both mean 1.2345; the device writes the latter.
    EXPECT_NEAR(DecodeNumber({0x45, 0x23, 0x01, 0x81}, 0), 1.2345, 1e-9);
    EXPECT_EQ(EncodeDeviceNumber(1.2345), (std::array<std::uint8_t, 4>{0x50, 0x34, 0x12, 0x80}));
    EXPECT_EQ(EncodeDeviceNumber(85.25), (std::array<std::uint8_t, 4>{0x00, 0x25, 0x85, 0x81}));
    const auto small = EncodeDeviceNumber(0.0125);
    EXPECT_NEAR(DecodeNumber(Bytes(small.begin(), small.end()), 0), 0.0125, 1e-9);
    EXPECT_EQ(EncodeDeviceNumber(0.0), (std::array<std::uint8_t, 4>{0, 0, 0, 0x80}));
}

TEST_F(HcDeviceTest, ArchivePagesHavePlausibleFloatsAndEnd) {
    HcDevice device(config_);
    Client c(device);
    const Bytes day = c.Command({40, 1, 0}, 49);
    ASSERT_EQ(day[0], 1);
    for (int pipeline = 0; pipeline < 2; ++pipeline) {
        const std::size_t at = 1 + 24 * static_cast<std::size_t>(pipeline);
        SCOPED_TRACE("pipeline " + std::to_string(pipeline + 1));
        EXPECT_GT(FloatAt(day, at), 0.0f);       // heat, GJ
        EXPECT_GT(FloatAt(day, at + 4), 10.0f);  // mass, t
        EXPECT_GT(FloatAt(day, at + 8), 35.0f);  // temperature
        EXPECT_LT(FloatAt(day, at + 8), 100.0f);
        EXPECT_GT(FloatAt(day, at + 12), 0.2f);  // pressure
        EXPECT_LT(FloatAt(day, at + 12), 0.9f);
        EXPECT_FLOAT_EQ(FloatAt(day, at + 16) + FloatAt(day, at + 20), 24.0f);  // hours
    }
    EXPECT_EQ(c.Command({40, 1, 123}, 49)[0], 1);
    EXPECT_EQ(c.Command({40, 1, 124}, 1)[0], 2);
    EXPECT_EQ(c.Command({40, 2, 47}, 49)[0], 1);
    EXPECT_EQ(c.Command({40, 2, 48}, 1)[0], 2);
    EXPECT_EQ(c.Command({40, 3, 0}, 1)[0], 3);
    EXPECT_NE(c.Command({40, 1, 1}, 49), day);

    HcDevice twin(config_);
    Client t(twin);
    EXPECT_EQ(t.Command({40, 1, 0}, 49), day);
}

TEST_F(HcDeviceTest, UnknownCommandIsAWrongAnswer) {
    HcDevice device(config_);
    Client c(device);
    EXPECT_EQ(c.Command({99, 1, 2}, 1)[0], 3);
    EXPECT_EQ(c.Command({34}, 1)[0], 3);
}

// ---- Directory -------------------------------------------------------------------------------

TEST_F(HcDeviceTest, TheDirectoryFindsEveryFieldInAllThreeLayouts) {
    HcDevice device(config_);
    Client c(device);
    std::set<int> layoutCases;
    for (const ExpectedField& f : kFields) {
        SCOPED_TRACE(std::to_string(f.group) + "/" + std::to_string(f.subgroup) + "/" +
                     std::to_string(f.field));
        const auto a = FindInDeviceDirectory(c, f.group, f.subgroup, f.field);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->size, f.size);
        layoutCases.insert(a->layoutCase);
    }
    EXPECT_EQ(layoutCases, (std::set<int>{1, 2, 3}));
    EXPECT_FALSE(FindInDeviceDirectory(c, 101, 0, 31));
    EXPECT_FALSE(FindInDeviceDirectory(c, 102, 0, 30));
}

TEST_F(HcDeviceTest, KnownFieldsHoldVersionUnitAddressText) {
    config_.address = 3;
    HcDevice device(config_);
    Client c(device);

    const auto general = FindInDeviceDirectory(c, 101, 0, 30);
    ASSERT_TRUE(general);
    EXPECT_EQ(general->flags & 0x0E, 0);  // 1-byte elements
    EXPECT_EQ(c.Read(static_cast<std::uint16_t>(general->address + 14), 1)[0], 45);  // element 15
    EXPECT_EQ(c.Read(static_cast<std::uint16_t>(general->address + 19), 1)[0], 0);   // element 20

    const auto settings = FindInDeviceDirectory(c, 101, 0, 40);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->flags & 0x0E, 0x02);  // 2-byte elements, high byte first
    const Bytes firstWord = c.Read(settings->address, 2);
    EXPECT_EQ(firstWord[0] << 8 | firstWord[1], 3);

    // "Котельная №3, ул. Заводская 12" in code page 866, zero terminated.
    const Bytes expected{0x8A, 0xAE, 0xE2, 0xA5, 0xAB, 0xEC, 0xAD, 0xA0, 0xEF, ' ',  0xFC,
                         '3',  ',',  ' ',  0xE3, 0xAB, '.',  ' ',  0x87, 0xA0, 0xA2, 0xAE,
                         0xA4, 0xE1, 0xAA, 0xA0, 0xEF, ' ',  '1',  '2',  0x00, 0x00};
    const auto text = FindInDeviceDirectory(c, 101, 0, 58);
    ASSERT_TRUE(text);
    EXPECT_EQ(c.Read(text->address, text->size), expected);

    for (std::uint8_t subgroup : {1, 2}) {
        const auto params = FindInDeviceDirectory(c, 230, subgroup, 30);
        ASSERT_TRUE(params);
        const Bytes floats = c.Read(params->address, params->size);
        EXPECT_GT(FloatAt(floats, 0), 10.0f);  // pipe diameter, mm
        EXPECT_LT(FloatAt(floats, 0), 1000.0f);
        EXPECT_FLOAT_EQ(FloatAt(floats, 16), 100.0f);  // sensor R0
    }
}

// ---- Faults ----------------------------------------------------------------------------------

TEST_F(HcDeviceTest, BadChecksumSpoilsCountAnswersAfterTheUntouchedOnes) {
    HcDevice device(config_);
    device.InjectFault({FaultKind::BadChecksum, 1, 2, 0});
    const Bytes request = MakeReadRequest(1, 0x1020, 2);
    const Bytes good = *device.HandleFrame(request);
    for (int i = 0; i < 2; ++i) {
        Bytes spoiled = good;
        spoiled.back() = static_cast<std::uint8_t>(spoiled.back() + 1);
        EXPECT_EQ(device.HandleFrame(request), spoiled);
    }
    EXPECT_EQ(device.HandleFrame(request), good);
    EXPECT_EQ(device.Stats().faultsApplied, 2u);
}

TEST_F(HcDeviceTest, LostAnswerStillAppliesTheWrite) {
    HcDevice device(config_);
    device.InjectFault({FaultKind::LostAnswer, 0, 1, 0});
    EXPECT_FALSE(device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x77})));
    EXPECT_EQ(device.Peek(0x2000), 0x77);
    EXPECT_TRUE(device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x78})));
}

TEST_F(HcDeviceTest, GarbageGoesInFrontOfAnIntactAnswer) {
    HcDevice device(config_);
    device.InjectFault({FaultKind::Garbage, 0, 1, 0});
    const auto answer = device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x01}));
    ASSERT_TRUE(answer);
    ASSERT_GE(answer->size(), 6u);
    ASSERT_LE(answer->size(), 11u);
    EXPECT_EQ(Bytes(answer->end() - 3, answer->end()), (Bytes{0x00, 0x50, 0x50}));
}

TEST_F(HcDeviceTest, WrongHeadKeepsTheChecksumRight) {
    HcDevice device(config_);
    device.InjectFault({FaultKind::WrongHead, 0, 1, 0});
    const auto write = device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x01}));
    EXPECT_EQ(write, (Bytes{0x01, 0x50, 0x50})) << "an acknowledgement has no checksum to fix";

    device.InjectFault({FaultKind::WrongHead, 0, 1, 0});
    const auto read = device.HandleFrame(MakeReadRequest(1, 0x2000, 1));
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)[0], 0x01);
    EXPECT_EQ(WithChecksum(Bytes(read->begin(), read->end() - 1)), *read);
}

TEST_F(HcDeviceTest, SilenceIgnoresEverythingForItsDuration) {
    HcDevice device(config_);
    device.InjectFault({FaultKind::Silence, 1, 1, 300});
    EXPECT_TRUE(device.HandleFrame(MakeReadRequest(1, 0x1020, 2)));
    EXPECT_FALSE(device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x42})));
    EXPECT_TRUE(device.Silenced());
    EXPECT_FALSE(device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x43})));
    EXPECT_EQ(device.Peek(0x2000), 0x00);

    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (device.Silenced() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(device.Silenced());
    EXPECT_TRUE(device.HandleFrame(MakeWriteRequest(1, 0x2000, Bytes{0x44})));
    EXPECT_EQ(device.Peek(0x2000), 0x44);
    EXPECT_EQ(device.Stats().silencedFrames, 2u);
}

TEST_F(HcDeviceTest, TruncatedStormAndLineGoneFaults) {
    config_.frozenClock = true;
    config_.clockEpoch = 1733580000;
    HcDevice device(config_);
    Client c(device);
    const Bytes request = MakeReadRequest(1, 0x1020, 8);
    const std::size_t whole = device.HandleFrame(request)->size();
    device.InjectFault({FaultKind::Truncated, 0, 1, 0});
    const std::size_t cut = device.HandleFrame(request)->size();
    EXPECT_GE(cut, 1u);
    EXPECT_LT(cut, whole);

    // The storm holds back the next command's answer for three more polls.
    device.InjectFault({FaultKind::StatusZeroStorm, 0, 3, 0});
    c.Write(kAnswerArea, {0x00});  // the storm strikes here
    c.Write(kCommandArea, {53});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c.Read(kAnswerArea, 1)[0], 0) << i;
    }
    EXPECT_EQ(c.Read(kAnswerArea, 1)[0], 1);
    EXPECT_EQ(device.DeviceTime(), 1733580000);  // frozen

    device.InjectFault({FaultKind::LineGone, 0, 1, 0});
    EXPECT_FALSE(device.LineGone());
    EXPECT_FALSE(device.HandleFrame(request));
    EXPECT_TRUE(device.LineGone());
}

TEST_F(HcDeviceTest, QueuedFaultsFollowEachOtherAndSkipBadFrames) {
    HcDevice device(config_);
    device.InjectFault({FaultKind::LostAnswer, 0, 1, 0});
    device.InjectFault({FaultKind::WrongHead, 1, 1, 0});
    const Bytes request = MakeReadRequest(1, 0x1020, 1);
    Bytes broken = request;
    broken.back() ^= 0xFF;
    EXPECT_FALSE(device.HandleFrame(broken));            // not counted by the faults
    EXPECT_FALSE(device.HandleFrame(request));           // lost
    EXPECT_EQ((*device.HandleFrame(request))[0], 0x00);  // untouched
    EXPECT_EQ((*device.HandleFrame(request))[0], 0x01);  // wrong head
    EXPECT_EQ((*device.HandleFrame(request))[0], 0x00);
}

}  // namespace
}  // namespace emulators
