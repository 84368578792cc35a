// The link layer against an emulated heat calculator on a pseudo-terminal.
#include "protocol/utv540.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "platform/cp1251_literal.h"
#include "protocol/frames.h"
#include "protocol/protocol_error.h"
#include "protocol/serial_link.h"
#include "tests/support/direct_modem.h"
#include "tests/support/emulated_port.h"

namespace {

using emulators::Fault;
using emulators::FaultKind;
using testsupport::EmulatedPort;

constexpr std::uint32_t kBaud = 115200;  // the shortest time-outs keep failure tests quick

protocol::LinkWaits ShortWaits() {
    protocol::LinkWaits waits;
    waits.recoveryWaitMs = 20;
    waits.mailboxPollMs = 20;
    return waits;
}

enum class Transport { kSerial, kModem };

std::string TransportName(const testing::TestParamInfo<Transport>& info) {
    return info.param == Transport::kSerial ? "Serial" : "Modem";
}

// A link object on an emulated device, as the reading worker makes it: over an opened COM port
// (paced at the port's rate, with the time-outs the reader sets for it), or over a modem call.
class Link {
  public:
    Link(EmulatedPort& emulated, Transport transport, std::uint8_t abonent = 1) {
        if (transport == Transport::kSerial) {
            port_ = protocol::OpenDevicePort(emulated.Name(), kBaud, dcb_);
            if (!port_) {
                return;
            }
            line_ = std::make_unique<protocol::SerialLink>(*port_, dcb_);
        } else {
            modem_ = std::make_unique<testsupport::DirectModem>(emulated.Device());
        }
        protocol::FrameLink& frames =
            line_ ? *line_ : static_cast<protocol::FrameLink&>(modem_->Link());
        link_ = std::make_unique<protocol::CTV540>(abonent, frames, 3, 5);
        link_->SetWaits(ShortWaits());
        link_->exchangeCallback = [this](bool ok) {
            calls_.push_back(ok);
            return keepGoing_;
        };
    }
    protocol::CTV540& operator*() { return *link_; }
    protocol::CTV540* operator->() { return link_.get(); }
    bool Opened() const { return link_ != nullptr; }
    const std::vector<bool>& Calls() const { return calls_; }
    void StopAfterNextCall() { keepGoing_ = false; }

  private:
    platform::DeviceControl dcb_;
    std::unique_ptr<platform::SerialPort> port_;
    std::unique_ptr<protocol::SerialLink> line_;
    std::unique_ptr<testsupport::DirectModem> modem_;
    std::unique_ptr<protocol::CTV540> link_;
    std::vector<bool> calls_;
    bool keepGoing_ = true;
};

// The link layer's rules hold whichever transport carries the frames.
class LinkLayer : public testing::TestWithParam<Transport> {};
class Mailbox : public testing::TestWithParam<Transport> {};
INSTANTIATE_TEST_SUITE_P(Transports, LinkLayer,
                         testing::Values(Transport::kSerial, Transport::kModem), TransportName);
INSTANTIATE_TEST_SUITE_P(Transports, Mailbox,
                         testing::Values(Transport::kSerial, Transport::kModem), TransportName);

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const protocol::ProtocolError& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(OpenDevicePort, SetsTheLineAndTimeOutsFromTheBaudRate) {
    EmulatedPort emulated(3, {testsupport::Device()});
    platform::DeviceControl dcb;
    auto port = protocol::OpenDevicePort(emulated.Name(), 9600, dcb);
    ASSERT_TRUE(port);
    EXPECT_EQ(dcb.baudRate, 9600u);
    EXPECT_EQ(dcb.parity, platform::kMarkParity);
    EXPECT_EQ(dcb.byteSize, 8);
    EXPECT_TRUE(dcb.fParity);
    const platform::CommTimeouts t = port->GetCommTimeouts();
    EXPECT_EQ(t.readIntervalTimeout, 200u);
    EXPECT_EQ(t.readTotalTimeoutMultiplier, 20u);
    EXPECT_EQ(t.readTotalTimeoutConstant, 200u);
    EXPECT_EQ(t.writeTotalTimeoutMultiplier, 20u);
    EXPECT_EQ(t.writeTotalTimeoutConstant, 200u);
    EXPECT_FALSE(protocol::OpenDevicePort("COM7", 9600, dcb)) << "no such device";
}

TEST(OpenDevicePort, BaseTimeOutFollowsTheRate) {
    EXPECT_EQ(protocol::BaseTimeoutForBaud(1200), 600u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(2400), 500u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(4800), 400u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(9600), 200u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(14400), 200u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(19200), 100u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(38400), 50u);
    EXPECT_EQ(protocol::BaseTimeoutForBaud(115200), 50u);
}

TEST_P(LinkLayer, ReadsAndWritesDeviceMemory) {
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    ASSERT_TRUE(link.Opened());
    EXPECT_FALSE(link->connected());

    const std::vector<std::uint8_t> pattern = {0x11, 0x22, 0x33};
    ASSERT_TRUE(link->WriteMemory(0x4000, 3, pattern.data(), 0));
    std::uint8_t back[3] = {};
    ASSERT_TRUE(link->ReadMemory(0x4000, 3, back));
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 3), pattern);
    EXPECT_TRUE(link->connected());
    EXPECT_EQ(link.Calls(), (std::vector<bool>{true, true}));

    // The largest read and write fit the transfer buffer.
    std::vector<std::uint8_t> big(254);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(link->WriteMemory(0x5000, 254, big.data(), 0));
    std::vector<std::uint8_t> whole(256);
    ASSERT_TRUE(link->ReadMemory(0x5000, 256, whole.data()));
    EXPECT_TRUE(std::equal(big.begin(), big.end(), whole.begin()));
}

TEST_P(LinkLayer, OutOfRangeCountsFailWithoutTraffic) {
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    std::uint8_t buffer[300] = {};
    EXPECT_FALSE(link->ReadMemory(0x1020, 0, buffer));
    EXPECT_FALSE(link->ReadMemory(0x1020, 257, buffer));
    EXPECT_FALSE(link->ReadMemory(0x1020, 2, nullptr));
    EXPECT_FALSE(link->WriteMemory(0x4000, 255, buffer, 0));
    EXPECT_FALSE(link->WriteMemory(0x4000, 0, buffer, 0));
    EXPECT_FALSE(link->WriteMemory(0x4000, 1, nullptr, 0));
    EXPECT_EQ(emulated.Device().Stats().framesReceived, 0u);
    EXPECT_TRUE(link.Calls().empty());
}

TEST_P(LinkLayer, RecoversFromEachKindOfBadAnswer) {
    const std::vector<FaultKind> kinds = {FaultKind::BadChecksum, FaultKind::LostAnswer,
                                          FaultKind::Garbage, FaultKind::WrongHead};
    for (FaultKind kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        EmulatedPort emulated(3, {testsupport::Device()});
        Link link(emulated, GetParam());
        emulated.Device().InjectFault(Fault{kind, 0, 1, 0});
        std::uint8_t data[4] = {};
        ASSERT_TRUE(link->ReadMemory(0x1040, 4, data));
        // First attempt failed, recovery resynchronised (true), then the retry succeeded.
        ASSERT_GE(link.Calls().size(), 3u);
        EXPECT_FALSE(link.Calls().front());
        EXPECT_TRUE(link.Calls().back());
        EXPECT_TRUE(link->connected());
    }
}

TEST_P(LinkLayer, RecoversWhenTheDeviceAnswersAgainAfterSilence) {
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    // Shorter than the recovery lasts: a modem call's exchanges here take no time at all.
    const unsigned silenceMs = GetParam() == Transport::kSerial ? 600 : 100;
    emulated.Device().InjectFault(Fault{FaultKind::Silence, 0, 1, silenceMs});
    std::uint8_t data[2] = {};
    EXPECT_TRUE(link->ReadMemory(0x1020, 2, data));
    EXPECT_TRUE(link->connected());
}

TEST_P(LinkLayer, ANeverAnsweringDeviceIsNotConnected) {
    EmulatedPort emulated(3, {testsupport::Device(1)});
    Link link(emulated, GetParam(), 9);  // nobody answers to 9 on this line
    std::uint8_t data[2] = {};
    EXPECT_EQ(ErrorOf([&] { link->ReadMemory(0x1020, 2, data); }),
              W1251("Соединение не установлено."));
    EXPECT_FALSE(link->connected());
}

TEST_P(LinkLayer, ADeviceThatFallsSilentLosesTheLink) {
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    std::uint8_t data[2] = {};
    ASSERT_TRUE(link->ReadMemory(0x1020, 2, data));
    emulated.Device().InjectFault(Fault{FaultKind::Silence, 0, 1, 60000});
    EXPECT_EQ(ErrorOf([&] { link->ReadMemory(0x1020, 2, data); }), W1251("Ошибка связи."));
}

TEST_P(LinkLayer, ACallbackThatSaysStopInterruptsTheReading) {
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    link.StopAfterNextCall();
    std::uint8_t data[2] = {};
    EXPECT_EQ(ErrorOf([&] { link->ReadMemory(0x1020, 2, data); }),
              W1251("Чтение данных из тепловычислителя прервано."));
    // Even a successful exchange marks the link connected before asking.
    EXPECT_TRUE(link->connected());
}

TEST_P(LinkLayer, OnlyTheAddressProbeAtThe1030StepIsNeeded) {
    // The first probe (0x1020) is lost; the 0x1030 probe and then 0x1040 answer.
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    emulated.Device().InjectFault(Fault{FaultKind::BadChecksum, 0, 2, 0});
    std::uint8_t data[2] = {};
    EXPECT_TRUE(link->ReadMemory(0x1020, 2, data));
    // read fails, probe 0x1020 fails, then 0x1030 and 0x1040 succeed, then the retry.
    EXPECT_EQ(link.Calls(), (std::vector<bool>{false, false, true, true}));
}

TEST_P(Mailbox, ExecutesACommandAndWaitsForItsAnswer) {
    auto config = testsupport::Device();
    config.statusZeroPolls = 2;
    EmulatedPort emulated(3, {config});
    Link link(emulated, GetParam());
    const std::uint8_t command[] = {4};
    std::uint8_t answer[7] = {};
    ASSERT_TRUE(link->ExecuteCommand(1, 7, command, answer, 0));
    EXPECT_EQ(answer[0], 1);
    const emulators::HcStats stats = emulated.Device().Stats();
    ASSERT_EQ(stats.commandLog.size(), 1u);
    EXPECT_EQ(stats.commandLog[0], std::vector<std::uint8_t>{4});
    EXPECT_EQ(stats.statusZeroAnswers, 2u);
}

TEST_P(Mailbox, AnAnswerThatNeverComesFailsAfterFivePolls) {
    auto config = testsupport::Device();
    config.statusZeroPolls = 100;
    EmulatedPort emulated(3, {config});
    Link link(emulated, GetParam());
    const std::uint8_t command[] = {4};
    std::uint8_t answer[7] = {};
    EXPECT_FALSE(link->ExecuteCommand(1, 7, command, answer, 0));
    EXPECT_EQ(emulated.Device().Stats().statusZeroAnswers, 5u);
}

TEST_P(Mailbox, UnknownCommandsStillAnswerWithAStatus) {
    EmulatedPort emulated(3, {testsupport::Device()});
    Link link(emulated, GetParam());
    const std::uint8_t command[] = {99, 1, 2};
    std::uint8_t answer[4] = {};
    ASSERT_TRUE(link->ExecuteCommand(3, 4, command, answer, 0));
    EXPECT_EQ(answer[0], 3);
}

TEST(ModemTransport, RecoversThroughTheModemLibraryOnlyWhileACallStands) {
    emulators::HcDevice device(testsupport::Device());
    testsupport::DirectModem modem(device);
    protocol::CTV540 link(1, modem.Link(), 3, 50);
    link.SetWaits(ShortWaits());
    std::uint8_t data[4] = {};
    ASSERT_TRUE(link.ReadMemory(0x1040, 4, data));
    EXPECT_TRUE(link.SetLineParity(platform::kSpaceParity)) << "parity is not touched";

    device.InjectFault(Fault{FaultKind::BadChecksum, 0, 2, 0});
    ASSERT_TRUE(link.ReadMemory(0x1040, 4, data));
    EXPECT_GE(modem.drains, 1) << "recovery drains through the raw read";

    // Without a call there is nothing to recover: the attempts just run out.
    protocol::ModemLink noCall(1, 0, modem);
    protocol::CTV540 unconnected(1, noCall, 3, 50);
    device.InjectFault(Fault{FaultKind::LostAnswer, 0, 3, 0});
    EXPECT_FALSE(unconnected.ReadMemory(0x1040, 4, data));
}

}  // namespace
