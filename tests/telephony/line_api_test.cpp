// The line functions against an emulated Hayes modem on a pseudo-terminal.
#include "telephony/line_api.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/telephony/emulated_modem.h"
#include "tests/telephony/line_app.h"

namespace {

using namespace telephony;
using emulators::DialOutcome;
using emulators::DialPlan;
using std::chrono::milliseconds;
using testsupport::EmulatedModem;

using testsupport::App;
using testsupport::kGenerous;

class LineApiTest : public ::testing::Test {
  protected:
    LineApiTest() { SetLineTimings(testsupport::FastLineTimings()); }
    ~LineApiTest() override { SetLineTimings({}); }

    static emulators::ModemOptions Plans() {
        emulators::ModemOptions options = testsupport::FastModemOptions();
        options.numbers["101"] = DialPlan{DialOutcome::Connect, 19200, 10, ""};
        options.numbers["102"] = DialPlan{DialOutcome::Busy, 0, 10, ""};
        options.numbers["103"] = DialPlan{DialOutcome::NoAnswer, 0, 10, ""};
        options.numbers["104"] = DialPlan{DialOutcome::NoCarrier, 0, 10, ""};
        options.numbers["105"] = DialPlan{DialOutcome::NoDialTone, 0, 10, ""};
        options.numbers["106"] = DialPlan{DialOutcome::Error, 0, 10, ""};
        options.numbers["107"] = DialPlan{DialOutcome::Silence, 0, 10, ""};
        return options;
    }

    // Dials `number` and waits for the reply; returns the call.
    std::uint32_t Dial(App& app, std::uint32_t line, const std::string& number) {
        std::uint32_t call = 0;
        const std::int32_t request = LineMakeCall(line, call, number, 0, CallParams{9600, 56000});
        EXPECT_GT(request, 0);
        const auto reply = app.AwaitReply(request);
        EXPECT_TRUE(reply.has_value());
        if (reply) {
            EXPECT_EQ(reply->param2, 0u);
        }
        return call;
    }

    // The data handle of a connected call, with the modem library's time-outs.
    static std::uint32_t DataHandle(std::uint32_t call) {
        VarString id;
        EXPECT_EQ(LineGetId(0, 0, call, kCallSelectCall, id, "comm/datamodem"), 0);
        id.totalSize = id.neededSize;
        EXPECT_EQ(LineGetId(0, 0, call, kCallSelectCall, id, "comm/datamodem"), 0);
        if (id.payload.size() < 4) {
            return 0;
        }
        const std::uint32_t handle = id.payload[0] | (id.payload[1] << 8) | (id.payload[2] << 16) |
                                     (static_cast<std::uint32_t>(id.payload[3]) << 24);
        platform::CommTimeouts timeouts{3000, 20, 3000, 20, 2000};
        EXPECT_TRUE(CommSetTimeouts(handle, timeouts));
        return handle;
    }
};

TEST_F(LineApiTest, OpensTheConfiguredModemAndNamesItsPort) {
    EmulatedModem modem(3, Plans(), "COM3:33600");
    App app;
    ASSERT_EQ(app.Devices(), 1u);
    ASSERT_NE(app.SignalEvent(), nullptr);
    std::uint32_t version = 0;
    EXPECT_EQ(LineNegotiateApiVersion(app.Handle(), 0, kApiVersion, kApiVersion, version), 0);
    EXPECT_EQ(version, kApiVersion);
    EXPECT_EQ(LineNegotiateApiVersion(app.Handle(), 1, kApiVersion, kApiVersion, version),
              kErrBadDeviceId);
    LineDevCaps caps;
    ASSERT_EQ(LineGetDevCaps(app.Handle(), 0, kApiVersion, caps), 0);
    EXPECT_EQ(caps.maxRate, 33600u);
    EXPECT_EQ(caps.mediaModes & kMediaModeDataModem, kMediaModeDataModem);

    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const auto commands = modem->Stats().commands;
    EXPECT_EQ(commands, (std::vector<std::string>{"ATZ", "ATE0V1Q0", "AT&C1&D2S0=0", "ATX4"}));

    // The first ask is too small: only the size comes back; the second gets the name.
    VarString id;
    ASSERT_EQ(LineGetId(line, 0, 0, kCallSelectLine, id, "comm/datamodem/portname"), 0);
    EXPECT_EQ(id.neededSize, VarString::kHeaderSize + 5);
    EXPECT_TRUE(id.payload.empty());
    id.totalSize = id.neededSize;
    ASSERT_EQ(LineGetId(line, 0, 0, kCallSelectLine, id, "comm/datamodem/portname"), 0);
    EXPECT_EQ(std::string(id.payload.begin(), id.payload.end()), std::string("COM3\0", 5));

    // The port is held exclusively while the line is open.
    std::uint32_t second = 0;
    EXPECT_EQ(LineOpen(app.Handle(), 0, second, kApiVersion, kPrivilegeOwner, kMediaModeDataModem),
              kErrAllocated);
    EXPECT_EQ(LineClose(line), 0);
    EXPECT_EQ(LineClose(line), kErrInvalLineHandle);
}

TEST_F(LineApiTest, ADialledCallConnectsCarriesDataAndDropsByDtr) {
    EmulatedModem modem(3, Plans());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const std::uint32_t call = Dial(app, line, "T101");
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateConnected));
    EXPECT_EQ(modem->Stats().dialled.back(), "101");
    LineCallInfo info;
    ASSERT_EQ(LineGetCallInfo(call, info), 0);
    EXPECT_EQ(info.rate, 19200u);

    const std::uint32_t data = DataHandle(call);
    ASSERT_NE(data, 0u);
    const std::uint8_t hello[] = {'h', 0x00, 0xFF, '\r', '\n'};
    EXPECT_EQ(CommWrite(data, hello, 5, kGenerous).count, 5u);
    std::uint8_t back[5] = {};
    const CommTransfer read = CommRead(data, back, 5, kGenerous);
    EXPECT_TRUE(read.ok);
    ASSERT_EQ(read.count, 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 5),
              std::vector<std::uint8_t>(hello, hello + 5));

    const std::int32_t drop = LineDrop(call);
    ASSERT_GT(drop, 0);
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateIdle));
    const auto reply = app.AwaitReply(drop);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->param2, 0u);
    const emulators::ModemStats stats = modem->Stats();
    EXPECT_EQ(stats.dtrHangUps, 1u);
    EXPECT_EQ(stats.escapes, 0u);
    EXPECT_FALSE(stats.online);
    EXPECT_FALSE(CommRead(data, back, 1, kGenerous).ok);
    EXPECT_TRUE(CommClose(data));
    EXPECT_FALSE(CommClose(data));
    EXPECT_EQ(LineDeallocateCall(call), 0);
    EXPECT_EQ(LineGetCallInfo(call, info), kErrInvalCallHandle);
}

TEST_F(LineApiTest, ResultCodesOfAFailedDialBecomeDisconnectModes) {
    EmulatedModem modem(3, Plans());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const std::pair<std::string, std::uint32_t> cases[] = {
        {"102", kDisconnectBusy},        {"103", kDisconnectNoAnswer},
        {"104", kDisconnectUnreachable}, {"105", kDisconnectNoDialTone},
        {"106", kDisconnectTempFailure},
    };
    for (const auto& [number, mode] : cases) {
        SCOPED_TRACE(number);
        const std::uint32_t call = Dial(app, line, number);
        const auto state = app.AwaitCallState(call, kCallStateDisconnected);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->param2, mode);
        EXPECT_EQ(LineDeallocateCall(call), 0);
    }
}

TEST_F(LineApiTest, DroppingADialThatGetsNoResultCutsItShort) {
    EmulatedModem modem(3, Plans());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const std::uint32_t call = Dial(app, line, "107");
    std::uint32_t second = 0;
    EXPECT_EQ(LineMakeCall(line, second, "101", 0, {}), kErrCallUnavail);
    const std::int32_t drop = LineDrop(call);
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateIdle));
    ASSERT_TRUE(app.AwaitReply(drop));
    EXPECT_EQ(LineDeallocateCall(call), 0);
    // The modem is back in command mode and takes the next call.
    const std::uint32_t next = Dial(app, line, "101");
    EXPECT_TRUE(app.AwaitCallState(next, kCallStateConnected));
}

TEST_F(LineApiTest, FarEndHangUpEndsTheCallAndItsData) {
    EmulatedModem modem(3, Plans());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const std::uint32_t call = Dial(app, line, "101");
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateConnected));
    const std::uint32_t data = DataHandle(call);
    modem->HangUpFarEnd();
    const auto state = app.AwaitCallState(call, kCallStateDisconnected);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->param2, kDisconnectNormal);
    std::uint8_t byte = 0;
    EXPECT_FALSE(CommRead(data, &byte, 1, kGenerous).ok);
    CommClose(data);
    // A drop of the disconnected call only finishes it.
    const std::int32_t drop = LineDrop(call);
    EXPECT_TRUE(app.AwaitReply(drop));
    EXPECT_EQ(modem->Stats().escapes, 0u);
}

TEST_F(LineApiTest, RingsOfferACallWithCountsAndAnswerConnectsIt) {
    EmulatedModem modem(3, Plans());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    modem->Ring(6, 100);
    const auto offered =
        app.Await([](const LineMessage& m) { return m.messageId == kLineAppNewCall; });
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->device, line);
    EXPECT_EQ(offered->param3, kPrivilegeOwner);
    const std::uint32_t call = offered->param2;
    const auto third = app.Await([&](const LineMessage& m) {
        return m.messageId == kLineDevState && m.device == line && m.param3 == 2;
    });
    ASSERT_TRUE(third);
    const std::int32_t answer = LineAnswer(call);
    ASSERT_GT(answer, 0);
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateConnected));
    // Ring counts start at 0 and grow by one.
    std::vector<std::uint32_t> counts;
    for (const LineMessage& m : app.Seen()) {
        if (m.messageId == kLineDevState) {
            counts.push_back(m.param3);
        }
    }
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(modem->Stats().ringsBeforeAnswer, std::vector<unsigned>{3});
    LineCallInfo info;
    ASSERT_EQ(LineGetCallInfo(call, info), 0);
    EXPECT_TRUE(info.incoming);
    EXPECT_EQ(info.rate, 9600u);
}

TEST_F(LineApiTest, RingsThatStopEndTheOfferedCallAsCancelled) {
    EmulatedModem modem(3, Plans());
    LineTimings timings = testsupport::FastLineTimings();
    timings.ringGap = milliseconds(300);
    SetLineTimings(timings);
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    modem->Ring(2, 50);
    const auto offered =
        app.Await([](const LineMessage& m) { return m.messageId == kLineAppNewCall; });
    ASSERT_TRUE(offered);
    const auto state = app.AwaitCallState(offered->param2, kCallStateDisconnected);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->param2, kDisconnectCancelled);
    EXPECT_EQ(LineAnswer(offered->param2), kErrInvalCallState);
}

TEST_F(LineApiTest, ASwitchedOffModemClosesTheLineAndEndsItsCall) {
    EmulatedModem modem(3, Plans());
    App app;
    const std::uint32_t line = app.OpenLine();
    ASSERT_NE(line, 0u);
    const std::uint32_t call = Dial(app, line, "101");
    ASSERT_TRUE(app.AwaitCallState(call, kCallStateConnected));
    modem->SwitchOff();
    const auto state = app.AwaitCallState(call, kCallStateDisconnected);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->param2, kDisconnectOutOfOrder);
    const auto closed = app.Await(
        [&](const LineMessage& m) { return m.messageId == kLineClose && m.device == line; });
    EXPECT_TRUE(closed);
    std::uint32_t next = 0;
    EXPECT_LT(LineMakeCall(line, next, "101", 0, {}), 0);
    EXPECT_EQ(LineClose(line), 0);
}

TEST_F(LineApiTest, AModemThatAnswersNothingOrGarbageDoesNotOpen) {
    LineTimings timings = testsupport::FastLineTimings();
    timings.commandReply = milliseconds(200);
    timings.resetReply = milliseconds(200);
    SetLineTimings(timings);
    for (auto fault : {emulators::CommandFault::Silent, emulators::CommandFault::Garbage}) {
        emulators::ModemOptions options = Plans();
        options.fault = fault;
        EmulatedModem modem(3, options);
        App app;
        std::int32_t error = 0;
        EXPECT_EQ(app.OpenLine(&error), 0u);
        EXPECT_EQ(error, kErrResourceUnavail);
        EXPECT_GE(modem->Stats().commands.size(), 2u);  // it was asked, twice
    }
}

TEST_F(LineApiTest, AMissingPortIsNotAModem) {
    ::setenv("CALVIX_COM4", "/nonexistent/tty", 1);
    ::setenv("TARVEX_MODEMS", "COM4", 1);
    App app;
    ASSERT_EQ(app.Devices(), 1u);
    std::uint32_t line = 0;
    OpenFault fault = OpenFault::kNone;
    EXPECT_EQ(
        LineOpen(app.Handle(), 0, line, kApiVersion, kPrivilegeOwner, kMediaModeDataModem, &fault),
        kErrNoDevice);
    EXPECT_EQ(fault, OpenFault::kPortMissing);
    ::unsetenv("CALVIX_COM4");
}

TEST_F(LineApiTest, HandlesThatDoNotExistAreRefused) {
    ::unsetenv("TARVEX_MODEMS");
    App app;
    EXPECT_EQ(app.Devices(), 0u);
    std::uint32_t call = 0;
    LineCallInfo info;
    VarString id;
    EXPECT_EQ(LineMakeCall(12345, call, "1", 0, {}), kErrInvalLineHandle);
    EXPECT_EQ(LineDrop(12345), kErrInvalCallHandle);
    EXPECT_EQ(LineAnswer(12345), kErrInvalCallHandle);
    EXPECT_EQ(LineGetCallInfo(12345, info), kErrInvalCallHandle);
    EXPECT_EQ(LineGetId(12345, 0, 0, kCallSelectLine, id, "comm/datamodem/portname"),
              kErrInvalLineHandle);
    EXPECT_EQ(LineShutdown(12345), kErrInvalAppHandle);
    LineMessage message;
    EXPECT_EQ(LineGetMessage(app.Handle(), message, 0), kErrOperationFailed);
    std::uint8_t byte = 0;
    EXPECT_FALSE(CommRead(12345, &byte, 1, milliseconds(10)).ok);
}

}  // namespace
