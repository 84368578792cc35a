// Answer mode: the offered call reaches the window, rings are counted before answering, and a
// modem that went away is noticed by the periodic check.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <optional>

#include <gtest/gtest.h>

#include "tests/modem/library_fixture.h"

namespace {

using namespace testsupport;

constexpr std::uint32_t kMessage = 0x0400 + 17;

// The "window": a pipe whose reading end the test watches.
class Window {
  public:
    Window() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~Window() {
        CloseReader();
        ::close(fds_[1]);
    }
    int Handle() const { return fds_[1]; }
    void CloseReader() {
        if (fds_[0] >= 0) {
            ::close(fds_[0]);
            fds_[0] = -1;
        }
    }
    std::optional<TarvexNotification> Next(
        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        pollfd entry{fds_[0], POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(limit.count())) != 1) {
            return std::nullopt;
        }
        TarvexNotification record{};
        if (::read(fds_[0], &record, sizeof record) != static_cast<ssize_t>(sizeof record)) {
            return std::nullopt;
        }
        return record;
    }

  private:
    int fds_[2];
};

class AnswerTest : public ModemLibraryTest {
  protected:
    Window window_;
};

TEST_F(AnswerTest, AnOfferedCallIsAnsweredAfterTheRingsAsked) {
    ASSERT_TRUE(OpenHistory(false));
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    EXPECT_TRUE(View().answerMode);
    EXPECT_TRUE(View().lineOpen);
    modem_->Ring(8, 150);
    const auto offered = window_.Next();
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->message, kMessage);
    EXPECT_EQ(offered->code, 1u);
    EXPECT_EQ(offered->slot, kSlot);
    ASSERT_EQ(ModemConnectAnswer(kSlot, 3, kLongTimeout), 1u);
    const std::vector<unsigned> rings = modem_->Stats().ringsBeforeAnswer;
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_GE(rings[0], 3u);  // never before the third ring
    EXPECT_NE(ModemGetCommHandle(kSlot), 0u);
    const std::uint8_t out[3] = {1, 2, 3};
    std::uint8_t in[3] = {};
    EXPECT_EQ(ModemWrite(kSlot, 3, out), 3u);
    EXPECT_EQ(ModemRead(kSlot, 3, in), 3u);
    EXPECT_NE(Utf8(ModemGetStatistics(kSlot)).find("Номер телефона: входящий звонок\r\n"),
              std::string::npos);

    // The line stays open for the next call while answer mode is on.
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_TRUE(View().lineOpen);
    EXPECT_TRUE(View().tapiInitialised);
    EXPECT_EQ(ModemAnswerModeOff(kSlot), 1u);
    EXPECT_TRUE(View().lineOpen);
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_FALSE(View().lineOpen);
    EXPECT_FALSE(View().tapiInitialised);
    const std::string history = History();
    const auto on = history.find("Включен режим ответа на входящие звонки\r\n");
    const auto incoming = history.find("   номер телефона: входящий звонок\r\n\r\n");
    const auto opened = history.find(
        "Канал передачи информации открыт:\r\n"
        "   скорость соединения: 9600 бит/с\r\n\r\n");
    const auto off = history.find("Выключен режим ответа на входящие звонки\r\n");
    ASSERT_NE(on, std::string::npos);
    EXPECT_LT(on, incoming);
    EXPECT_LT(incoming, opened);
    EXPECT_LT(opened, off);
    EXPECT_NE(off, std::string::npos);
}

TEST_F(AnswerTest, MoreThanTenRingsAreNeverAwaited) {
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    // Rings far enough apart that a loaded machine still asks for the answer before the tenth.
    modem_->Ring(12, 150);
    ASSERT_TRUE(window_.Next());
    ASSERT_EQ(ModemConnectAnswer(kSlot, 25, kLongTimeout), 1u);
    const std::vector<unsigned> rings = modem_->Stats().ringsBeforeAnswer;
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_GE(rings[0], 10u);
    EXPECT_LE(rings[0], 12u);
}

TEST_F(AnswerTest, OneRingMeansAnswerAtOnce) {
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    modem_->Ring(20, 500);
    ASSERT_TRUE(window_.Next());
    ASSERT_EQ(ModemConnectAnswer(kSlot, 1, kLongTimeout), 1u);
    EXPECT_EQ(modem_->Stats().ringsBeforeAnswer.size(), 1u);
    EXPECT_LT(modem_->Stats().ringsBeforeAnswer[0], 20u);
}

TEST_F(AnswerTest, AnswerWithoutAnOfferedCallFails) {
    ASSERT_TRUE(OpenHistory(false));
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    EXPECT_EQ(ModemConnectAnswer(kSlot, 3, 2), 0u);
    EXPECT_TRUE(View().lineOpen);  // answer mode keeps it
    EXPECT_TRUE(modem_->Stats().ringsBeforeAnswer.empty());
    EXPECT_NE(History().find("   номер телефона: входящий звонок\r\n\r\n"), std::string::npos);
}

TEST_F(AnswerTest, CallsAreNotTakenWithoutAnswerMode) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    ASSERT_EQ(ModemDisconnect(kSlot), 1u);
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    ASSERT_EQ(ModemAnswerModeOff(kSlot), 1u);
    modem_->Ring(3, 30);
    EXPECT_FALSE(window_.Next(std::chrono::milliseconds(500)));
    EXPECT_FALSE(View().offeredPending);
}

TEST_F(AnswerTest, ASwitchedOffModemIsReportedWithCodeTwo) {
    ASSERT_TRUE(OpenHistory(false));
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    modem_->SwitchOff();
    const auto report = window_.Next();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->message, kMessage);
    EXPECT_EQ(report->code, 2u);
    EXPECT_EQ(report->slot, kSlot);
    EXPECT_FALSE(View().lineOpen);
    EXPECT_NE(History().find("Отключение режима ответа на входящие звонки (возможно выключен "
                             "модем)\r\n" +
                             std::string(40, '=') + "\r\n"),
              std::string::npos);
    ModemAnswerModeOff(kSlot);
    ModemDisconnect(kSlot);
    EXPECT_FALSE(View().tapiInitialised);
}

TEST_F(AnswerTest, AnswerModeFailsWithoutTheSlotsModem) {
    ASSERT_TRUE(OpenHistory(false, 2));
    EXPECT_EQ(ModemAnswerModeOn(2, window_.Handle(), kMessage), 0u);
    EXPECT_FALSE(View(2).answerMode);
    EXPECT_FALSE(View(2).tapiInitialised);
    EXPECT_NE(History().find("Ошибка при включении режима ответа на входящие звонки\r\n"),
              std::string::npos);
}

TEST_F(AnswerTest, AWindowWhoseReaderIsGoneCostsNothing) {
    ASSERT_EQ(ModemAnswerModeOn(kSlot, window_.Handle(), kMessage), 1u);
    window_.CloseReader();
    modem_->Ring(20, 300);
    ASSERT_TRUE(WaitFor([this] { return View().offeredPending; }, std::chrono::seconds(10)));
    // Still here (no SIGPIPE) and the call can be answered.
    EXPECT_EQ(ModemConnectAnswer(kSlot, 0, kLongTimeout), 1u);
}

}  // namespace
