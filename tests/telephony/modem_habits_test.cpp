// The line layer against modems as installations have them: stored profiles, a slow reset, a
// refused command, no escape, other connect reports, a call left up, and a real DCD line.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "telephony/line_api.h"
#include "tests/support/process.h"
#include "tests/telephony/emulated_modem.h"
#include "tests/telephony/line_app.h"

namespace {

using namespace telephony;
using emulators::DialOutcome;
using emulators::DialPlan;
using std::chrono::milliseconds;
using testsupport::App;
using testsupport::DataHandleOf;
using testsupport::EmulatedModem;
using testsupport::kGenerous;

emulators::ModemOptions Options(const std::string& profile = "") {
    emulators::ModemOptions options = testsupport::FastModemOptions();
    options.numbers["101"] = DialPlan{DialOutcome::Connect, 19200, 10, emulators::kEchoPeer};
    options.profile = profile;
    return options;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// For modems that leave a command unanswered: no need to wait long for what will not come.
LineTimings ImpatientTimings() {
    LineTimings timings = testsupport::FastLineTimings();
    timings.commandReply = milliseconds(300);
    return timings;
}

class ModemHabitsTest : public ::testing::Test {
  protected:
    ModemHabitsTest() { SetLineTimings(testsupport::FastLineTimings()); }
    ~ModemHabitsTest() override { SetLineTimings({}); }

    struct CallResult {
        bool connected = false;
        bool echoed = false;
        bool dropped = false;
        std::uint32_t rate = 0;
    };

    // Dials 101 on an open line, sends a few bytes through the echo, hangs up.
    static CallResult CallAndHangUp(App& app, std::uint32_t line,
                                    const CallParams& params = CallParams{9600, 56000}) {
        CallResult result;
        std::uint32_t call = 0;
        const std::int32_t request = LineMakeCall(line, call, "101", 0, params);
        if (request <= 0 || !app.AwaitReply(request)) {
            return result;
        }
        result.connected = app.AwaitCallState(call, kCallStateConnected).has_value();
        if (!result.connected) {
            return result;
        }
        LineCallInfo info;
        LineGetCallInfo(call, info);
        result.rate = info.rate;
        const std::uint32_t data = DataHandleOf(call);
        const std::uint8_t hello[] = {'+', 0xFF, '\r', 'A', 'T'};
        std::uint8_t back[5] = {};
        result.echoed = CommWrite(data, hello, 5, kGenerous).count == 5 &&
                        CommRead(data, back, 5, kGenerous).count == 5 &&
                        std::equal(hello, hello + 5, back);
        CommClose(data);
        const std::int32_t drop = LineDrop(call);
        result.dropped = app.AwaitCallState(call, kCallStateIdle).has_value() &&
                         app.AwaitReply(drop).has_value();
        LineDeallocateCall(call);
        return result;
    }
};

TEST_F(ModemHabitsTest, AModemOpensAndCallsWhateverItsStoredProfileSays) {
    for (const char* profile : {"V0", "Q1", "E1", "E1V0Q1", "&D3E1V0"}) {
        SCOPED_TRACE(profile);
        EmulatedModem modem(3, Options(profile));
        App app;
        const std::uint32_t line = app.OpenLine();
        ASSERT_NE(line, 0u);
        const CallResult call = CallAndHangUp(app, line);
        EXPECT_TRUE(call.connected);
        EXPECT_TRUE(call.echoed);
        EXPECT_TRUE(call.dropped);
        EXPECT_EQ(call.rate, 19200u);
        EXPECT_FALSE(modem->Stats().online);
        LineClose(line);
    }
}

TEST_F(ModemHabitsTest, ASlowResetIsWaitedFor) {
    LineTimings timings = ImpatientTimings();
    timings.resetReply = milliseconds(5000);
    SetLineTimings(timings);
    emulators::ModemOptions options = Options();
    options.resetDelayMs = 900;  // three times the wait for an ordinary command
    EmulatedModem modem(3, options);
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    EXPECT_EQ(modem->Stats().resets, 1u);
    EXPECT_TRUE(CallAndHangUp(app, line).connected);
}

TEST_F(ModemHabitsTest, ARefusedDefaultAdditionStillOpens) {
    emulators::ModemOptions options = Options();
    options.refused = {"X4"};
    EmulatedModem modem(3, options);
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    EXPECT_TRUE(Contains(modem->Stats().commands, "ATX4"));
    EXPECT_TRUE(CallAndHangUp(app, line).connected);
}

TEST_F(ModemHabitsTest, ARefusedConfiguredInitStringIsTheFault) {
    emulators::ModemOptions options = Options();
    options.refused = {"X4"};
    EmulatedModem modem(3, options, "COM3/init=X4");
    App app;
    std::uint32_t line = 0;
    OpenFault fault = OpenFault::kNone;
    EXPECT_EQ(
        LineOpen(app.Handle(), 0, line, kApiVersion, kPrivilegeOwner, kMediaModeDataModem, &fault),
        kErrOperationFailed);
    EXPECT_EQ(fault, OpenFault::kInitRefused);
}

TEST_F(ModemHabitsTest, TheModemsOwnInitStringsAndDialPrefixAreSent) {
    EmulatedModem modem(3, Options(), "COM3/init=X3/init=AT+MS=V34/dial=ATX3DP");
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    EXPECT_TRUE(CallAndHangUp(app, line).connected);
    const emulators::ModemStats stats = modem->Stats();
    EXPECT_TRUE(Contains(stats.commands, "ATX3"));
    EXPECT_TRUE(Contains(stats.commands, "AT+MS=V34"));
    EXPECT_FALSE(Contains(stats.commands, "ATX4"));
    EXPECT_TRUE(Contains(stats.commands, "ATX3DP101"));
    EXPECT_EQ(stats.dialled.back(), "101");
}

TEST_F(ModemHabitsTest, AModemThatIgnoresTheEscapeIsHungUpByDtr) {
    EmulatedModem modem(3, Options("S2=255"));
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const CallResult call = CallAndHangUp(app, line);
    EXPECT_TRUE(call.echoed);  // "+" is data to it
    EXPECT_TRUE(call.dropped);
    const emulators::ModemStats stats = modem->Stats();
    EXPECT_EQ(stats.dtrHangUps, 1u);
    EXPECT_EQ(stats.escapes, 0u);
    EXPECT_FALSE(stats.online);
    // And the next call goes out as a call, not as data.
    EXPECT_TRUE(CallAndHangUp(app, line).connected);
}

TEST_F(ModemHabitsTest, WithoutADtrWireTheEscapeHangsUp) {
    SetLineTimings(ImpatientTimings());
    emulators::ModemOptions options = Options();
    options.dtrWired = false;
    EmulatedModem modem(3, options);
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    EXPECT_TRUE(CallAndHangUp(app, line).dropped);
    const emulators::ModemStats stats = modem->Stats();
    EXPECT_EQ(stats.dtrHangUps, 0u);
    EXPECT_EQ(stats.escapes, 1u);
    EXPECT_EQ(stats.hangUps, 1u);
    EXPECT_FALSE(stats.online);
}

TEST_F(ModemHabitsTest, TheLineRateComesFromCarrierReportsNeverFromThePortRate) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"W0", 0},      // "CONNECT 115200" is the port's rate
        {"W1", 19200},  // "CARRIER 19200", "PROTOCOL: LAP-M", "CONNECT 115200"
        {"W2", 19200},  // "CONNECT 19200"
    };
    for (const auto& [profile, rate] : cases) {
        SCOPED_TRACE(profile);
        EmulatedModem modem(3, Options(profile));
        App app;
        const std::uint32_t line = app.OpenLine();
        ASSERT_NE(line, 0u);
        const CallResult call = CallAndHangUp(app, line);
        EXPECT_TRUE(call.connected);
        EXPECT_EQ(call.rate, rate);
        LineClose(line);
    }
}

TEST_F(ModemHabitsTest, TheCallersWaitGoesIntoS7) {
    EmulatedModem modem(3, Options());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const std::pair<std::uint32_t, const char*> cases[] = {{45, "ATS7=45"}, {600, "ATS7=255"}};
    for (const auto& [seconds, command] : cases) {
        CallParams params{9600, 56000};
        params.noAnswerTimeout = seconds;
        EXPECT_TRUE(CallAndHangUp(app, line, params).connected);
        const std::vector<std::string> commands = modem->Stats().commands;
        const auto dial = std::find(commands.rbegin(), commands.rend(), "ATDT101");
        ASSERT_NE(dial, commands.rend());
        ASSERT_NE(dial + 1, commands.rend());
        EXPECT_EQ(*(dial + 1), command);
    }
}

TEST_F(ModemHabitsTest, ANumberThatWouldStartAnotherCommandIsRefused) {
    EmulatedModem modem(3, Options());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    std::uint32_t call = 0;
    EXPECT_EQ(LineMakeCall(line, call, "101\rATZ", 0, {}), kErrInvalAddress);
    EXPECT_EQ(LineMakeCall(line, call, "101;", 0, {}), kErrInvalAddress);
    EXPECT_TRUE(modem->Stats().dialled.empty());
}

TEST_F(ModemHabitsTest, AModemLeftOnlineIsHungUpAtOpen) {
    SetLineTimings(ImpatientTimings());
    EmulatedModem modem(3, Options("S2=255"));
    {
        // An earlier program called and went away without hanging up.
        const int fd = ::open(modem->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "ATD101\r", 7), 7);
        EXPECT_TRUE(testsupport::WaitFor([&] { return modem->Stats().online; }, kGenerous));
        ::close(fd);
    }
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    EXPECT_EQ(modem->Stats().dtrHangUps, 1u);
    EXPECT_FALSE(modem->Stats().online);
    EXPECT_TRUE(CallAndHangUp(app, line).echoed);
}

TEST_F(ModemHabitsTest, WithACarrierDetectLineNoCarrierTextIsData) {
    EmulatedModem modem(3, Options());
    LineTimings timings = testsupport::FastLineTimings();
    timings.modemLines = [&modem](int) -> std::optional<int> {
        return TIOCM_DSR | (modem->CarrierDetect() ? TIOCM_CAR : 0);
    };
    SetLineTimings(timings);
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    std::uint32_t call = 0;
    ASSERT_TRUE(app.AwaitReply(LineMakeCall(line, call, "101", 0, {})));
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateConnected));
    const std::uint32_t data = DataHandleOf(call);
    const std::string text = "\r\nNO CARRIER\r\n#";
    std::vector<std::uint8_t> back(text.size());
    ASSERT_EQ(
        CommWrite(data, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), kGenerous)
            .count,
        text.size());
    ASSERT_EQ(CommRead(data, back.data(), back.size(), kGenerous).count, text.size());
    EXPECT_EQ(std::string(back.begin(), back.end()), text);
    LineCallInfo info;
    EXPECT_EQ(LineGetCallInfo(call, info), 0);
    EXPECT_NE(DataHandleOf(call), 0u);  // still connected

    // DCD falling is what ends it.
    modem->HangUpFarEnd();
    const auto state = app.AwaitCallState(call, kCallStateDisconnected);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->param2, kDisconnectNormal);
    CommClose(data);
}

}  // namespace
