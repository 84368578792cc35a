// The four data operations over an open channel: frames, acknowledgements, replies that are
// wrong in one byte, raw transfers, argument checks and the detailed records.
#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "tests/modem/library_fixture.h"

namespace {

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

const std::string kStamp = FakeClock::kStamp;

class DataTest : public ModemLibraryTest {
  protected:
    FakeClock clock_;
};

TEST_F(DataTest, AFramedReadSendsTheRequestAndReturnsTheData) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::uint8_t data[2] = {};
    ASSERT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    EXPECT_EQ(modem_->Stats().toPeer, (Bytes{0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C}));
    EXPECT_EQ(data[0], hc_.Device(1).Peek(0x1020));
    EXPECT_EQ(data[1], hc_.Device(1).Peek(0x1021));

    std::uint8_t big[256] = {};
    ASSERT_EQ(ModemReadHC(kSlot, 1, 0x0200, 256, big), 256u);
    EXPECT_EQ(big[255], hc_.Device(1).Peek(0x02FF));
}

TEST_F(DataTest, AFramedWriteIsAcknowledgedWithPP) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    const std::uint8_t data[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_EQ(ModemWriteHC(kSlot, 1, 0x2000, 3, data), 3u);
    EXPECT_EQ(hc_.Device(1).Peek(0x2001), 0xB2);
    const Bytes sent = modem_->Stats().toPeer;
    EXPECT_EQ(sent,
              (Bytes{0x01, 0x09, 0x04, 0x20, 0x00, 0xA1, 0xB2, 0xC3,
                     static_cast<std::uint8_t>(0x01 + 0x09 + 0x04 + 0x20 + 0xA1 + 0xB2 + 0xC3)}));
}

TEST_F(DataTest, Subscriber255MayBeReadButNotWritten) {
    ASSERT_TRUE(OpenHistory(true));
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::uint8_t data[2] = {7, 7};
    EXPECT_EQ(ModemWriteHC(kSlot, 255, 0x2000, 2, data), 0u);
    EXPECT_TRUE(modem_->Stats().toPeer.empty());
    EXPECT_EQ(ModemReadHC(kSlot, 255, 0x1020, 2, data), 2u);
    EXPECT_EQ(modem_->Stats().toPeer.front(), 0xFF);
    EXPECT_EQ(Count(History(),
                    "Ошибка при вызове команды записи массива данных:\r\n"
                    "   заданы недопустимые параметры\r\n\r\n"),
              1u);
}

TEST_F(DataTest, InvalidArgumentsAreCountedButNothingIsSent) {
    ASSERT_TRUE(OpenHistory(true));
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::uint8_t buffer[300] = {};
    EXPECT_EQ(ModemRead(kSlot, 0, buffer), 0u);
    EXPECT_EQ(ModemRead(kSlot, 257, buffer), 0u);
    EXPECT_EQ(ModemRead(kSlot, 4, nullptr), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 0, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 256, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x10000, 2, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 0, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 257, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, nullptr), 0u);
    EXPECT_EQ(ModemWrite(kSlot, 0, buffer), 0u);
    EXPECT_EQ(ModemWrite(kSlot, 4, nullptr), 0u);
    EXPECT_EQ(ModemWriteHC(kSlot, 0, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(ModemWriteHC(kSlot, 1, 0x1020, 257, buffer), 0u);
    EXPECT_EQ(ModemWriteHC(kSlot, 1, 0x1020, 2, nullptr), 0u);
    EXPECT_TRUE(modem_->Stats().toPeer.empty());
    EXPECT_EQ(ModemGetStatus(kSlot), 1u);  // the channel stays open
    const std::string statistics = Utf8(ModemGetStatistics(kSlot));
    EXPECT_NE(statistics.find("чтения массива данных (успешные/все): 0/9 (0 %)"),
              std::string::npos);
    EXPECT_NE(statistics.find("записи массива данных (успешные/все): 0/5 (0 %)"),
              std::string::npos);
    EXPECT_EQ(Count(History(), "заданы недопустимые параметры"), 14u);
}

TEST_F(DataTest, AReadReplyMustHaveTheRightHeadLengthAndChecksum) {
    ASSERT_EQ(Connect(kScripted), 1u);
    const auto sum = [](Bytes bytes) {
        std::uint8_t total = 0;
        for (std::uint8_t b : bytes) {
            total = static_cast<std::uint8_t>(total + b);
        }
        bytes.push_back(total);
        return bytes;
    };
    const Bytes wrongLength = sum({0x00, 0x00, 0x02, 0x11, 0x22});
    const Bytes wrongHead = sum({0x01, 0x00, 0x01, 0x11, 0x22});
    Bytes wrongSum = sum({0x00, 0x00, 0x01, 0x11, 0x22});
    ++wrongSum.back();
    for (const Bytes& reply : {wrongLength, wrongHead, wrongSum}) {
        peer_.Send(reply);
        std::uint8_t data[2] = {0x55, 0x55};
        EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 0u);
        EXPECT_EQ(data[0], 0x55);  // untouched
        EXPECT_EQ(peer_.Receive(7), (Bytes{0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C}));
    }
    peer_.Send(sum({0x00, 0x00, 0x01, 0x11, 0x22}));
    std::uint8_t data[2] = {};
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    EXPECT_EQ(data[1], 0x22);
    // A write acknowledgement must be exactly 00 50 50.
    peer_.Send({0x00, 0x50, 0x51});
    EXPECT_EQ(ModemWriteHC(kSlot, 1, 0x2000, 2, data), 0u);
    peer_.Send({0x00, 0x50, 0x50});
    EXPECT_EQ(ModemWriteHC(kSlot, 1, 0x2000, 2, data), 2u);
}

TEST_F(DataTest, RawTransfersMoveBytesBothWaysAndReportShortReads) {
    ASSERT_TRUE(OpenHistory(true));
    ASSERT_EQ(Connect(kEcho), 1u);
    const std::uint8_t out[5] = {0x00, 0x0D, 0x0A, 0xFF, 0x2B};
    ASSERT_EQ(ModemWrite(kSlot, 5, out), 5u);
    std::uint8_t in[5] = {};
    ASSERT_EQ(ModemRead(kSlot, 5, in), 5u);
    EXPECT_EQ(Bytes(in, in + 5), Bytes(out, out + 5));
    // Fewer bytes than asked: the serial time-outs end the read with what came.
    ASSERT_EQ(ModemWrite(kSlot, 3, out), 3u);
    std::uint8_t more[5] = {};
    EXPECT_EQ(ModemRead(kSlot, 5, more), 3u);
    EXPECT_EQ(more[2], 0x0A);
    const std::string history = History();
    EXPECT_NE(
        history.find(kStamp + "Ошибка при чтении массива данных:\r\n   считано 3 из 5\r\n\r\n"),
        std::string::npos);
    EXPECT_NE(
        Utf8(ModemGetStatistics(kSlot)).find("чтения массива данных (успешные/все): 1/2 (50 %)"),
        std::string::npos);
}

TEST_F(DataTest, DetailedRecordsDescribeEveryOperation) {
    ASSERT_TRUE(OpenHistory(true));
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::uint8_t data[2] = {};
    ASSERT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    ASSERT_EQ(ModemWriteHC(kSlot, 1, 0x2000, 2, data), 2u);
    hc_.Device(1).InjectFault({emulators::FaultKind::BadChecksum, 0, 1});
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 0u);
    const std::string history = History();
    EXPECT_NE(history.find(kStamp +
                           "Чтение массива данных:\r\n   абонент: 1\r\n   адрес:   4128\r\n"
                           "   длина:   2\r\n" +
                           kStamp + "Массив данных считан\r\n\r\n" + kStamp +
                           "Запись массива данных:\r\n   абонент: 1\r\n   адрес:   8192\r\n"
                           "   длина:   2\r\n" +
                           kStamp + "Массив данных записан\r\n\r\n" + kStamp +
                           "Чтение массива данных:\r\n   абонент: 1\r\n   адрес:   4128\r\n"
                           "   длина:   2\r\n" +
                           kStamp + "Ошибка при чтении массива данных\r\n\r\n"),
              std::string::npos)
        << history;
}

TEST_F(DataTest, WithoutTheDetailedFlagDataOperationsLeaveNoRecords) {
    ASSERT_TRUE(OpenHistory(false));
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::uint8_t data[2] = {};
    ASSERT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    EXPECT_EQ(ModemReadHC(kSlot, 0, 0x1020, 2, data), 0u);
    EXPECT_EQ(History().find("массива данных:"), std::string::npos);
}

}  // namespace
