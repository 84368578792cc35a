// The data side of a call: Win32 read time-out rules over the bytes the modem delivered.
#include "telephony/data_channel.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using telephony::DataChannel;

platform::CommTimeouts ReadTimeouts(std::uint32_t interval, std::uint32_t multiplier,
                                    std::uint32_t constant) {
    platform::CommTimeouts timeouts;
    timeouts.readIntervalTimeout = interval;
    timeouts.readTotalTimeoutMultiplier = multiplier;
    timeouts.readTotalTimeoutConstant = constant;
    return timeouts;
}

DataChannel::Writer Recorder(std::vector<std::uint8_t>& sink, platform::CommTimeouts& seen) {
    return [&sink, &seen](const std::uint8_t* bytes, std::size_t count, std::size_t& done,
                          const platform::CommTimeouts& timeouts) {
        sink.insert(sink.end(), bytes, bytes + count);
        seen = timeouts;
        done = count;
        return 0;
    };
}

class DataChannelTest : public ::testing::Test {
  protected:
    std::vector<std::uint8_t> written_;
    platform::CommTimeouts seen_{};
    DataChannel channel_{Recorder(written_, seen_)};
};

TEST_F(DataChannelTest, ReadReturnsWhatCameWhenTheTotalTimeOutRunsOut) {
    channel_.SetTimeouts(ReadTimeouts(0, 1, 20));
    const std::uint8_t two[] = {1, 2};
    channel_.Deliver(two, 2);
    std::uint8_t buffer[4] = {};
    const telephony::CommTransfer result = channel_.Read(buffer, 4, milliseconds(10000));
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.count, 2u);
    EXPECT_EQ(buffer[1], 2);
}

TEST_F(DataChannelTest, ReadEndsWhenTheGapBetweenBytesIsTooLong) {
    channel_.SetTimeouts(ReadTimeouts(20, 0, 0));  // no total: only the interval ends it
    std::thread late([this] {
        const std::uint8_t one = 7;
        channel_.Deliver(&one, 1);
    });
    std::uint8_t buffer[3] = {};
    const telephony::CommTransfer result = channel_.Read(buffer, 3, milliseconds(10000));
    late.join();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 1u);
    EXPECT_EQ(buffer[0], 7);
}

TEST_F(DataChannelTest, MaxDwordIntervalAloneReturnsAtOnce) {
    channel_.SetTimeouts(ReadTimeouts(platform::kMaxDword, 0, 0));
    std::uint8_t buffer[3] = {};
    const telephony::CommTransfer result = channel_.Read(buffer, 3, milliseconds(10000));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 0u);
}

TEST_F(DataChannelTest, AReadThatNothingEndsIsCancelledAtTheLimit) {
    channel_.SetTimeouts(ReadTimeouts(0, 0, 0));  // Win32: wait for ever
    std::uint8_t buffer[3] = {};
    const telephony::CommTransfer result = channel_.Read(buffer, 3, milliseconds(30));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.count, 0u);
}

TEST_F(DataChannelTest, BreakingTheChannelFailsAWaitingRead) {
    channel_.SetTimeouts(ReadTimeouts(0, 0, 0));
    std::thread breaker([this] { channel_.Break(); });
    std::uint8_t buffer[3] = {};
    const telephony::CommTransfer result = channel_.Read(buffer, 3, milliseconds(10000));
    breaker.join();
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.cancelled);
    const std::uint8_t byte = 1;
    EXPECT_FALSE(channel_.Write(&byte, 1, milliseconds(1000)).ok);
}

TEST_F(DataChannelTest, WritesCarryTheirTimeOutsAndAreCappedAtTheLimit) {
    platform::CommTimeouts timeouts;
    timeouts.writeTotalTimeoutMultiplier = 20;
    timeouts.writeTotalTimeoutConstant = 2000;
    channel_.SetTimeouts(timeouts);
    const std::uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(channel_.Write(bytes, 3, milliseconds(10000)).count, 3u);
    EXPECT_EQ(seen_.writeTotalTimeoutConstant, 2000u);
    EXPECT_EQ(seen_.writeTotalTimeoutMultiplier, 20u);

    channel_.SetTimeouts({});  // no write time-out at all: the limit stands in
    EXPECT_TRUE(channel_.Write(bytes, 3, milliseconds(10000)).ok);
    EXPECT_EQ(seen_.writeTotalTimeoutConstant, 10000u);
    EXPECT_EQ(seen_.writeTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(written_.size(), 6u);
}

TEST(DataChannel, AWriteTimeOutGivesAShortCount) {
    DataChannel channel(
        [](const std::uint8_t*, std::size_t, std::size_t& done, const platform::CommTimeouts&) {
            done = 1;
            return ETIMEDOUT;
        });
    platform::CommTimeouts timeouts;
    timeouts.writeTotalTimeoutConstant = 100;
    channel.SetTimeouts(timeouts);
    const std::uint8_t bytes[] = {1, 2, 3};
    const telephony::CommTransfer result = channel.Write(bytes, 3, milliseconds(10000));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 1u);
}

}  // namespace
