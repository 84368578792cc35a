#include "platform/net_channel.h"
#include "platform/serial_port.h"
#include "platform/telnet_com_port.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/loopback.h"

namespace platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace platform::telnet;

Bytes Decode(const Bytes& in, telnet::Decoder& decoder) {
    Bytes data;
    decoder.Feed(in.data(), in.size(), data);
    return data;
}

TEST(TelnetDecoder, SplitsDataFromControlAndAnswersWhatChangesState) {
    struct Case {
        const char* what;
        Bytes in;
        Bytes data;
        Bytes replies;
    };
    const Case cases[] = {
        {"doubled IAC is one data byte", {1, kIac, kIac, 2}, {1, kIac, 2}, {}},
        // What a server typically greets with: only its offer to echo is refused.
        {"greeting",
         {kIac, kWill, kSuppressGoAhead,
          kIac, kDo,   kSuppressGoAhead,
          kIac, kWill, 1,
          kIac, kDont, 1,
          kIac, kDo,   kBinary,
          kIac, kWill, kBinary,
          kIac, kDo,   kComPortOption},
         {},
         {kIac, kDont, 1}},
        {"unknown option refused each time it is asked",
         {kIac, kDo, 24, 7, kIac, kDo, 24},
         {7},
         {kIac, kWont, 24, kIac, kWont, 24}},
        {"a confirmation is not answered", {kIac, kWill, kBinary, kIac, kWont, 1}, {}, {}},
        {"sub-negotiation and NOP dropped",
         {5, kIac, kSb, kComPortOption, 103, 4, kIac, kSe, kIac, 241, 6},
         {5, 6},
         {}},
    };
    for (const Case& c : cases) {
        telnet::Decoder decoder;
        EXPECT_EQ(Decode(c.in, decoder), c.data) << c.what;
        EXPECT_EQ(decoder.TakeReplies(), c.replies) << c.what;
    }
}

TEST(TelnetDecoder, FollowsComPortAnswerAndModemState) {
    telnet::Decoder decoder;
    EXPECT_EQ(decoder.ComPortState(), telnet::Decoder::ComPort::kUnknown);
    EXPECT_FALSE(decoder.ModemState());
    // Split anywhere, even inside a sub-negotiation; an FF modem state comes doubled.
    const Bytes stream = {kIac, kDo,  kComPortOption, kIac, kSb, kComPortOption,
                          107,  kIac, kIac,           kIac, kSe, 9};
    Bytes data;
    for (const std::uint8_t byte : stream) {
        decoder.Feed(&byte, 1, data);
    }
    EXPECT_EQ(data, Bytes{9});
    EXPECT_EQ(decoder.ComPortState(), telnet::Decoder::ComPort::kAccepted);
    EXPECT_EQ(decoder.ModemState(), 0xFF);

    telnet::Decoder refusing;
    Decode({kIac, kDont, kComPortOption}, refusing);
    EXPECT_EQ(refusing.ComPortState(), telnet::Decoder::ComPort::kRefused);
    EXPECT_EQ(refusing.TakeReplies(), (Bytes{kIac, kWont, kComPortOption}));
}

TEST(NetworkPortName, ParsesHostAndPort) {
    struct Case {
        const char* name;
        bool valid;
        bool telnet;
        const char* host;
    };
    const Case cases[] = {
        {"rfc2217://10.0.0.5:4001", true, true, "10.0.0.5"},
        {"RFC2217://server.site:7000/", true, true, "server.site"},
        {"tcp://[fe80::1]:4001", true, false, "fe80::1"},
        {"tcp://fe80::1:4001", false, false, ""},
        {"tcp://host", false, false, ""},
        {"tcp://:4001", false, false, ""},
        {"tcp://host:0", false, false, ""},
        {"tcp://host:65536", false, false, ""},
        {"tcp://host:40x", false, false, ""},
        {"udp://host:4001", false, false, ""},
    };
    for (const Case& c : cases) {
        const auto address = ParseNetworkPortName(c.name);
        ASSERT_EQ(address.has_value(), c.valid) << c.name;
        if (address) {
            EXPECT_EQ(address->telnet, c.telnet) << c.name;
            EXPECT_EQ(address->host, c.host) << c.name;
        }
    }
}

// A server on the loopback that records what it receives and sends what it is told.
class FakeServer {
  public:
    explicit FakeServer(Bytes greeting) : greeting_(std::move(greeting)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        port_ = testsupport::BindLoopback(listener_);
        EXPECT_EQ(::listen(listener_, 1), 0);
        thread_ = std::thread([this] {
            Serve();
            std::lock_guard lock(mutex_);
            serving_ = false;
        });
    }
    ~FakeServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        if (client_ >= 0) {
            ::close(client_);
        }
    }
    std::string Url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }
    void Send(const Bytes& bytes) {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL), std::ssize(bytes));
    }
    // The serving thread closes the connection itself: a close under its recv() would race.
    void Drop() {
        {
            std::lock_guard lock(mutex_);
            dropAsked_ = true;
        }
        for (const auto start = Clock::now(); Clock::now() - start < 10s;) {
            std::lock_guard lock(mutex_);
            if (client_ < 0 || !serving_) {
                return;
            }
        }
    }
    // Waits until `count` bytes have come (10 s at most) and returns all that came.
    Bytes Received(std::size_t count) {
        for (const auto start = Clock::now(); Clock::now() - start < 10s;) {
            {
                std::lock_guard lock(mutex_);
                if (received_.size() >= count) {
                    return received_;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    void Serve() {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            client_ = client;
        }
        if (!greeting_.empty()) {
            Send(greeting_);
        }
        while (!stop_) {
            {
                std::lock_guard lock(mutex_);
                if (dropAsked_) {
                    ::close(client);
                    client_ = -1;
                    break;
                }
            }
            pollfd entry{client, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0) {
                continue;
            }
            std::uint8_t chunk[512];
            const ssize_t got = ::recv(client, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got <= 0) {
                break;
            }
            std::lock_guard lock(mutex_);
            received_.insert(received_.end(), chunk, chunk + got);
        }
    }

    Bytes greeting_;
    int listener_ = -1;
    int client_ = -1;
    bool dropAsked_ = false;
    bool serving_ = true;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Bytes received_;
    std::thread thread_;
};

const Bytes kAccept = {kIac, kDo, kComPortOption};

DeviceControl MarkParityLine() {
    DeviceControl dcb;
    dcb.baudRate = 9600;
    dcb.parity = kMarkParity;
    dcb.fParity = true;
    return dcb;
}

// An rfc2217 port on `server`, set for the device's line; nullptr on failure.
std::unique_ptr<SerialPort> OpenMarkParityPort(FakeServer& server) {
    auto port = SerialPort::Open(server.Url("rfc2217"));
    if (!port || !port->SetCommState(MarkParityLine())) {
        return nullptr;
    }
    return port;
}

TEST(NetworkPort, SetsTheLineAndSwitchesParityInStepWithTheData) {
    FakeServer server(kAccept);
    auto port = SerialPort::Open(server.Url("rfc2217"));
    ASSERT_TRUE(port) << errno;
    EXPECT_TRUE(port->SwitchesParity());
    DeviceControl dcb = MarkParityLine();
    ASSERT_TRUE(port->SetCommState(dcb));
    const std::uint8_t address = 0xFF;  // an FF data byte goes doubled
    std::size_t done = 0;
    ASSERT_TRUE(port->Write(&address, 1, done));
    dcb.parity = kSpaceParity;
    ASSERT_TRUE(port->SetCommState(dcb));
    // What the server must see, in this order: the greeting, the whole line set up, the
    // address byte doubled, then only the parity change.
    Bytes expected = ClientGreeting();
    auto command = [&expected](std::uint8_t code, std::initializer_list<std::uint8_t> value) {
        expected.insert(expected.end(), {kIac, kSb, kComPortOption, code});
        expected.insert(expected.end(), value);
        expected.insert(expected.end(), {kIac, kSe});
    };
    command(kSetBaudRate, {0, 0, 0x25, 0x80});
    command(kSetDataSize, {8});
    command(kSetParity, {4});
    command(kSetStopSize, {1});
    command(kSetControl, {kNoFlowControl});
    command(kSetControl, {kDtrOn});
    command(kSetControl, {kRtsOn});
    expected.insert(expected.end(), {kIac, kIac});
    command(kSetParity, {5});
    EXPECT_EQ(server.Received(expected.size()), expected);
}

TEST(NetworkPort, ReadsDecodedDataUnderTheTimeoutRules) {
    FakeServer server(kAccept);
    auto port = OpenMarkParityPort(server);
    ASSERT_TRUE(port);
    CommTimeouts timeouts;
    timeouts.readIntervalTimeout = 50;
    timeouts.readTotalTimeoutConstant = 50;
    ASSERT_TRUE(port->SetCommTimeouts(timeouts));
    server.Send({0x00, kIac, kIac, kIac, kSb, kComPortOption, 107, 0x80, kIac, kSe, 0x03});
    std::uint8_t buffer[8] = {};
    std::size_t done = 0;
    ASSERT_TRUE(port->Read(buffer, 3, done));
    EXPECT_EQ(Bytes(buffer, buffer + done), (Bytes{0x00, 0xFF, 0x03}));
    EXPECT_EQ(port->ModemLines(), TIOCM_CAR);
    // A silent line is a time-out, not an error, and the settings read back unchanged.
    ASSERT_TRUE(port->Read(buffer, 4, done));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(port->GetCommTimeouts().readIntervalTimeout, 50u);
}

TEST(NetworkPort, ServerGoneFailsReadsAndWrites) {
    FakeServer server(kAccept);
    auto port = OpenMarkParityPort(server);
    ASSERT_TRUE(port);
    CommTimeouts timeouts;
    timeouts.readTotalTimeoutConstant = 5000;
    ASSERT_TRUE(port->SetCommTimeouts(timeouts));
    server.Drop();
    std::uint8_t buffer[4] = {};
    std::size_t done = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(port->Read(buffer, 4, done));
    EXPECT_LT(Clock::now() - start, 4s);  // at once, not at the time-out
    bool wrote = true;
    for (int i = 0; i < 20 && wrote; ++i) {  // the first writes may still be buffered
        wrote = port->Write(buffer, 4, done);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(wrote);
}

TEST(NetworkPort, RawPortKeepsTheServersSettings) {
    FakeServer server({});
    auto port = SerialPort::Open(server.Url("tcp"));
    ASSERT_TRUE(port);
    EXPECT_FALSE(port->SwitchesParity());
    ASSERT_TRUE(port->SetCommState(MarkParityLine()));
    EXPECT_FALSE(port->SetDtr(false));
    EXPECT_FALSE(port->ModemLines());
    const Bytes data = {1, 0xFF, 2};
    std::size_t done = 0;
    ASSERT_TRUE(port->Write(data.data(), data.size(), done));
    EXPECT_EQ(server.Received(3), data);  // bytes as they are, no Telnet
}

TEST(NetworkPort, OpenFailsClearly) {
    FakeServer refusing({kIac, kDont, kComPortOption});
    errno = 0;
    EXPECT_FALSE(SerialPort::Open(refusing.Url("rfc2217")));
    EXPECT_EQ(errno, EPROTONOSUPPORT);

    errno = 0;
    EXPECT_FALSE(SerialPort::Open("rfc2217://127.0.0.1"));
    EXPECT_EQ(errno, EINVAL);

    // A port number nobody listens on: bind one, close it, connect to it.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    const std::uint16_t unused = testsupport::BindLoopback(probe);
    ::close(probe);
    errno = 0;
    EXPECT_FALSE(SerialPort::Open("tcp://127.0.0.1:" + std::to_string(unused)));
    EXPECT_EQ(errno, ECONNREFUSED);
}

}  // namespace
}  // namespace platform
