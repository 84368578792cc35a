// What the exports do before any call: slot checks, argument checks, texts, history files,
// and calls that come after the library was unloaded.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/serial_port.h"
#include "tests/modem/library_fixture.h"

namespace {

using testsupport::Count;
using testsupport::kSlot;
using testsupport::ModemLibraryTest;

constexpr const char* kNoStatistics = "Ошибка. Нет статистики для запрашиваемого модема";

class ExportsTest : public ModemLibraryTest {};

TEST_F(ExportsTest, EverySlotAboveEightIsRefused) {
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    for (std::uint32_t slot : {9u, 10u, 255u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(ModemConnect(slot, "101", 9600, 56000, 1, 1), 0u);
        EXPECT_EQ(ModemDisconnect(slot), 0u);
        EXPECT_EQ(ModemRead(slot, 1, buffer), 0u);
        EXPECT_EQ(ModemWrite(slot, 1, buffer), 0u);
        EXPECT_EQ(ModemReadHC(slot, 1, 0x1020, 2, buffer), 0u);
        EXPECT_EQ(ModemWriteHC(slot, 1, 0x1020, 2, buffer), 0u);
        EXPECT_EQ(ModemOpenHistoryFile(slot, history_.c_str(), 1), 0u);
        EXPECT_EQ(ModemCloseHistoryFile(slot), 0u);
        EXPECT_EQ(Utf8(ModemGetStatistics(slot)), kNoStatistics);
        EXPECT_EQ(Utf8(ModemGetStatisticsAll(slot)), kNoStatistics);
        EXPECT_EQ(ModemGetStatus(slot), 0u);
        EXPECT_EQ(ModemAnswerModeOn(slot, -1, 1), 0u);
        EXPECT_EQ(ModemAnswerModeOff(slot), 0u);
        EXPECT_EQ(ModemConnectAnswer(slot, 3, 1), 0u);
        EXPECT_EQ(ModemGetCommHandle(slot), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(history_));
    EXPECT_EQ(buffer[0], 1);
    EXPECT_TRUE(modem_->Stats().commands.empty());
}

TEST_F(ExportsTest, TheVersionIsOneConstantText) {
    const char* first = ModemGetVersion();
    EXPECT_EQ(Utf8(first), "Библиотека \"tarvex\" (версия 1.1)");
    ASSERT_EQ(Connect(testsupport::kHeatCalculator), 1u);
    EXPECT_EQ(ModemGetVersion(), first);
}

TEST_F(ExportsTest, ASlotThatNeverConnectedHasEmptyStatistics) {
    EXPECT_EQ(Utf8(ModemGetStatistics(kSlot)),
              "Номер сеанса связи: 0\r\n"
              "Номер телефона: \r\n"
              "Время начала открытия канала: -\r\n"
              "Время открытия канала: -\r\n"
              "Время закрытия канала: -\r\n"
              "Скорость соединения: -\r\n"
              "Состояние канала передачи информации: закрыт\r\n"
              "Время использования канала: -\r\n"
              "Количество операций чтения массива данных (успешные/все): 0/0\r\n"
              "Количество операций записи массива данных (успешные/все): 0/0");
    EXPECT_EQ(Utf8(ModemGetStatisticsAll(kSlot)),
              "Количество сеансов связи (успешные/все): 0/0\r\n"
              "Состояние канала передачи информации: закрыт\r\n"
              "Общее время использования канала передачи информации: 0ч 0м 0,000с\r\n"
              "Среднее время использования канала передачи информации: 0ч 0м 0,000с\r\n"
              "Количество операций чтения массива данных (успешные/все): 0/0\r\n"
              "Количество операций записи массива данных (успешные/все): 0/0");
}

TEST_F(ExportsTest, DataOperationsWithoutAChannelFailAndSaySo) {
    ASSERT_TRUE(OpenHistory());
    std::uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(ModemRead(kSlot, 4, buffer), 0u);
    EXPECT_EQ(ModemWrite(kSlot, 4, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(ModemWriteHC(kSlot, 1, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
    EXPECT_EQ(ModemGetCommHandle(kSlot), 0u);
    EXPECT_EQ(buffer[0], 9);
    const std::string history = History();
    EXPECT_EQ(Count(history,
                    "Ошибка при вызове команды чтения массива данных:\r\n"
                    "   канал передачи информации закрыт\r\n\r\n"),
              2u);
    EXPECT_EQ(Count(history,
                    "Ошибка при вызове команды записи массива данных:\r\n"
                    "   канал передачи информации закрыт\r\n\r\n"),
              2u);
    // Not counted: no operation was attempted on a channel.
    EXPECT_NE(Utf8(ModemGetStatisticsAll(kSlot))
                  .find("Количество операций чтения массива данных (успешные/все): 0/0\r\n"),
              std::string::npos);
}

TEST_F(ExportsTest, ZeroAttemptsDoNothing) {
    ASSERT_TRUE(OpenHistory());
    EXPECT_EQ(ModemConnect(kSlot, testsupport::kHeatCalculator, 9600, 56000, 10, 0), 0u);
    EXPECT_TRUE(modem_->Stats().commands.empty());
    EXPECT_EQ(History(), "");
    EXPECT_FALSE(View().tapiInitialised);
}

TEST_F(ExportsTest, HistoryPathsThatCannotBeOpenedLeaveNoFileOpen) {
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, nullptr, 1), 0u);
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, "", 1), 0u);
    const std::string missingFolder = (scratch_.Path() / "no" / "such" / "h.log").string();
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, missingFolder.c_str(), 1), 0u);
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, scratch_.Path().c_str(), 1), 0u);  // a folder
    const std::string fifo = (scratch_.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, fifo.c_str(), 1), 0u);  // no reader: no hang either
    // A failed open also closed the file that was open before.
    ASSERT_TRUE(OpenHistory());
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, missingFolder.c_str(), 1), 0u);
    EXPECT_EQ(ModemAnswerModeOff(kSlot), 1u);
    EXPECT_EQ(History(), "");
    EXPECT_EQ(ModemCloseHistoryFile(kSlot), 1u);
}

TEST_F(ExportsTest, OpeningTheSameHistoryFileAgainAppends) {
    ASSERT_TRUE(OpenHistory());
    ModemAnswerModeOff(kSlot);
    EXPECT_EQ(ModemCloseHistoryFile(kSlot), 1u);
    EXPECT_EQ(ModemCloseHistoryFile(kSlot), 1u);  // none open: still 1
    ASSERT_TRUE(OpenHistory());
    ModemAnswerModeOff(kSlot);
    ASSERT_TRUE(OpenHistory());  // reopening closes and opens again
    ModemAnswerModeOff(kSlot);
    EXPECT_EQ(Count(History(), "Выключен режим ответа на входящие звонки\r\n"), 3u);
    EXPECT_EQ(Count(History(), std::string(40, '=') + "\r\n"), 6u);
}

TEST_F(ExportsTest, CallsAfterUnloadFailQuietly) {
    tarvex::internal::Unload();
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(ModemConnect(kSlot, testsupport::kHeatCalculator, 9600, 56000, 10, 1), 0u);
    EXPECT_EQ(ModemDisconnect(kSlot), 0u);
    EXPECT_EQ(ModemRead(kSlot, 2, buffer), 0u);
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, buffer), 0u);
    EXPECT_EQ(ModemOpenHistoryFile(kSlot, history_.c_str(), 1), 0u);
    EXPECT_EQ(Utf8(ModemGetStatistics(kSlot)), kNoStatistics);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
    EXPECT_EQ(ModemAnswerModeOn(kSlot, -1, 1), 0u);
    EXPECT_EQ(ModemGetCommHandle(kSlot), 0u);
    EXPECT_EQ(Utf8(ModemGetVersion()), "Библиотека \"tarvex\" (версия 1.1)");
    EXPECT_TRUE(modem_->Stats().commands.empty());
    // Loading again gives a working library.
    ASSERT_TRUE(tarvex::internal::Load());
    EXPECT_EQ(Connect(testsupport::kHeatCalculator), 1u);
}

TEST_F(ExportsTest, UnloadWithACallUpEndsTheLineLayerToo) {
    ASSERT_EQ(Connect(testsupport::kHeatCalculator), 1u);
    tarvex::internal::Unload();
    // The port was given back: another program could open the modem now.
    EXPECT_TRUE(testsupport::WaitFor([] { return platform::SerialPort::Open("COM3") != nullptr; },
                                     std::chrono::seconds(10)));
    ASSERT_TRUE(tarvex::internal::Load());
}

}  // namespace
