// Why a connection could not be made, as the history file tells it; modems touched only when
// their slot is used; internal failures that never cross the C interface.
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/serial_port.h"
#include "tests/modem/library_fixture.h"

namespace {

using namespace testsupport;

const std::string kStamp = FakeClock::kStamp;
constexpr std::chrono::seconds kGenerousWait{20};

std::string OpeningError(const std::string& reason) {
    return kStamp + "Ошибка при открытии канала передачи информации:\r\n   " + reason;
}

class CausesTest : public ModemLibraryTest {
  protected:
    ~CausesTest() override { tarvex::internal::SetEventsFail(false); }
    FakeClock clock_;
};

TEST_F(CausesTest, EachPortFailureHasItsOwnText) {
    struct Case {
        const char* device;  // what COM3 names; empty: the emulated modem, held by another
        const char* reason;
    };
    const Case cases[] = {
        {"/nonexistent/ttyUSB7", "COM-порт модема не найден\r\n\r\n"},
        {"/dev/null", "ошибка при настройке COM-порта модема\r\n\r\n"},
        {"", "LINEERR_ALLOCATED\r\n"},
    };
    const std::string modemPath = modem_->SlavePath();
    ASSERT_TRUE(OpenHistory(false));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        std::unique_ptr<platform::SerialPort> holder;
        if (*c.device == '\0') {
            holder = platform::SerialPort::Open("COM3");
            ASSERT_NE(holder, nullptr);
        } else {
            ::setenv("CALVIX_COM3", c.device, 1);
        }
        EXPECT_EQ(Connect(kHeatCalculator), 0u);
        EXPECT_NE(History().find(OpeningError(c.reason)), std::string::npos) << History();
        ::setenv("CALVIX_COM3", modemPath.c_str(), 1);
    }
    EXPECT_EQ(Count(History(), "COM-порт = ???"), 0u);
    EXPECT_TRUE(modem_->Stats().dialled.empty());
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

TEST_F(CausesTest, NoModemsConfiguredIsSaid) {
    ::unsetenv("TARVEX_MODEMS");
    ASSERT_TRUE(OpenHistory(false));
    EXPECT_EQ(Connect(kHeatCalculator), 0u);
    EXPECT_NE(
        History().find(OpeningError("модемы не настроены (переменная TARVEX_MODEMS)\r\n\r\n")),
        std::string::npos)
        << History();
    EXPECT_FALSE(View().tapiInitialised);
}

TEST_F(CausesTest, AModemRefusingItsInitStringIsSaid) {
    emulators::ModemOptions options = FastModemOptions();
    options.refused = {"X3"};
    EmulatedModem refusing(4, options, "COM4/init=X3");
    ASSERT_TRUE(OpenHistory(false, 4));
    EXPECT_EQ(Connect(kHeatCalculator, 4), 0u);
    EXPECT_NE(History().find(OpeningError("модем отклонил строку инициализации\r\n\r\n")),
              std::string::npos)
        << History();
    EXPECT_TRUE(refusing->Stats().dialled.empty());
}

TEST_F(CausesTest, ANumberThatWouldStartCommandsIsNotDialled) {
    ASSERT_TRUE(OpenHistory(false));
    for (const char* number : {"101\rATZ", "101;", "101\n"}) {
        EXPECT_EQ(Connect(number), 0u);
    }
    EXPECT_EQ(
        Count(History(), OpeningError("номер телефона содержит недопустимые символы\r\n\r\n")), 3u);
    EXPECT_TRUE(modem_->Stats().commands.empty());
}

TEST_F(CausesTest, TheConnectTimeOutGoesIntoS7) {
    ASSERT_EQ(ModemConnect(kSlot, kHeatCalculator, 9600, 56000, 45, 1), 1u);
    ModemDisconnect(kSlot);
    const std::vector<std::string> commands = modem_->Stats().commands;
    EXPECT_NE(std::find(commands.begin(), commands.end(), "ATS7=45"), commands.end());
}

TEST_F(CausesTest, DiallingASlotTouchesOnlyItsModem) {
    EmulatedModem second(5, FastModemOptions(), "COM3 COM5");
    ASSERT_TRUE(OpenHistory(false, 5));
    EXPECT_EQ(Connect("555", 5), 1u);
    ModemDisconnect(5);
    EXPECT_EQ(second->Stats().dialled, std::vector<std::string>{"555"});
    EXPECT_TRUE(modem_->Stats().commands.empty());
}

TEST_F(CausesTest, OtherSlotsWorkWhileALineOpens) {
    // A modem that never answers keeps its line opening for seconds.
    telephony::LineTimings timings = FastLineTimings();
    timings.resetReply = std::chrono::milliseconds(1500);
    timings.commandReply = std::chrono::milliseconds(300);
    telephony::SetLineTimings(timings);
    emulators::ModemOptions options = FastModemOptions();
    options.fault = emulators::CommandFault::Silent;
    EmulatedModem silent(5, options, "COM3 COM5");
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::atomic<bool> opening{true};
    std::thread other([&] {
        ModemConnect(5, "555", 9600, 56000, kLongTimeout, 1);
        opening = false;
    });
    ASSERT_TRUE(WaitFor([&] { return !silent->Stats().commands.empty(); }, kGenerousWait));
    std::uint8_t data[2] = {};
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    EXPECT_EQ(Utf8(ModemGetStatistics(kSlot)).rfind("Номер сеанса связи: 1", 0), 0u);
    EXPECT_TRUE(opening.load());  // the read did not wait for the other line
    other.join();
    ModemDisconnect(kSlot);
}

TEST_F(CausesTest, AnEventThatCannotBeMadeFailsTheConnectInsteadOfTheProcess) {
    ASSERT_TRUE(OpenHistory(false));
    tarvex::internal::SetEventsFail(true);
    EXPECT_EQ(Connect(kHeatCalculator), 0u);
    EXPECT_NE(History().find(OpeningError("причина неизвестна\r\n")), std::string::npos)
        << History();
    EXPECT_FALSE(View().lineOpen);
    EXPECT_FALSE(View().tapiInitialised);
    EXPECT_EQ(ModemConnectAnswer(kSlot, 1, 1), 0u);
    tarvex::internal::SetEventsFail(false);
    EXPECT_EQ(Connect(kHeatCalculator), 1u);
}

TEST_F(CausesTest, ADisconnectThatCannotMakeItsEventStillHangsUp) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    tarvex::internal::SetEventsFail(true);
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
    EXPECT_FALSE(View().lineOpen);
    EXPECT_TRUE(WaitFor([this] { return !modem_->Stats().online; }, kGenerousWait));
}

}  // namespace
