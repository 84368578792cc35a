#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "emulators/hc_line.h"

namespace emulators {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The client side of the line: the slave in raw mode, plain POSIX I/O.
class SlavePort {
  public:
    explicit SlavePort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << path;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~SlavePort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlavePort(const SlavePort&) = delete;
    SlavePort& operator=(const SlavePort&) = delete;

    void Send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Collects bytes until `done` holds or the time is up.
    Bytes ReceiveUntil(const std::function<bool(const Bytes&)>& done,
                       Clock::duration timeout = 10s) {
        Bytes received;
        const auto deadline = Clock::now() + timeout;
        while (!done(received)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd fd{fd_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            std::uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                received.insert(received.end(), buffer, buffer + n);
            }
        }
        return received;
    }

    Bytes Receive(std::size_t count) {
        return ReceiveUntil([count](const Bytes& b) { return b.size() >= count; });
    }

  private:
    int fd_ = -1;
};

template <typename Predicate>
bool Eventually(Predicate predicate, Clock::duration timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    while (!predicate()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

Bytes ReadAnswer(const Bytes& data) {
    Bytes answer{0x00, 0x00, static_cast<std::uint8_t>(data.size() - 1)};
    answer.insert(answer.end(), data.begin(), data.end());
    answer.push_back(FrameChecksum(answer));
    return answer;
}

HcConfig At(std::uint8_t address) {
    HcConfig config;
    config.address = address;
    config.answerDelayMs = 0;
    return config;
}

TEST(HcLineTest, AnswersARequestWrittenToTheSlave) {
    HcLine line({At(1)});
    line.Device(1).Poke(0x1020, Bytes{0x12, 0x34});
    SlavePort port(line.SlavePath());
    port.Send({0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C});
    EXPECT_EQ(port.Receive(6), ReadAnswer({0x12, 0x34}));
}

TEST(HcLineTest, EachDeviceAnswersOnlyItsOwnAddress) {
    HcLine line({At(1), At(2)});
    line.Device(1).Poke(0x1020, Bytes{0x11, 0x11});
    line.Device(2).Poke(0x1020, Bytes{0x22, 0x22});
    SlavePort port(line.SlavePath());

    port.Send(MakeReadRequest(2, 0x1020, 2));
    EXPECT_EQ(port.Receive(6), ReadAnswer({0x22, 0x22}));
    // Nobody has address 3: the first bytes back belong to the request that follows it.
    port.Send(MakeReadRequest(3, 0x1020, 2));
    port.Send(MakeReadRequest(1, 0x1020, 2));
    EXPECT_EQ(port.Receive(6), ReadAnswer({0x11, 0x11}));

    EXPECT_EQ(line.Stats().framesForeign, 1u);
    EXPECT_EQ(line.Device(1).Stats().framesReceived, 1u);
    EXPECT_EQ(line.Device(2).Stats().framesReceived, 1u);
    EXPECT_THROW(line.Device(3), std::out_of_range);
}

TEST(HcLineTest, PartialFrameIsDiscardedAfterAGap) {
    LineOptions options;
    options.gapTimeoutMs = 30;
    HcLine line({At(1)}, options);
    SlavePort port(line.SlavePath());
    port.Send({0x01, 0x08, 0x02});
    ASSERT_TRUE(Eventually([&] { return line.Stats().partialFramesDropped == 1; }));
    port.Send(MakeReadRequest(1, 0x1030, 3));
    EXPECT_EQ(port.Receive(7), ReadAnswer({0, 0, 0}));
    EXPECT_EQ(line.Device(1).Stats().badFrames, 0u);
}

TEST(HcLineTest, AddressByteSentAloneStillStartsTheFrame) {
    LineOptions options;
    options.gapTimeoutMs = 2000;  // far above the client's 10 ms pause
    HcLine line({At(1)}, options);
    SlavePort port(line.SlavePath());
    const Bytes request = MakeReadRequest(1, 0x1040, 4);
    port.Send({request[0]});
    std::this_thread::sleep_for(10ms);
    port.Send(Bytes(request.begin() + 1, request.end()));
    EXPECT_EQ(port.Receive(8), ReadAnswer({0, 0, 0, 0}));
}

TEST(HcLineTest, GarbageArrivesInFrontOfTheAnswer) {
    HcLine line({At(1)});
    line.Device(1).InjectFault({FaultKind::Garbage, 0, 1, 0});
    SlavePort port(line.SlavePath());
    port.Send(MakeWriteRequest(1, 0x2000, Bytes{0x01}));
    const Bytes ack{0x00, 0x50, 0x50};
    const Bytes received = port.ReceiveUntil(
        [&](const Bytes& b) { return b.size() >= 6 && Bytes(b.end() - 3, b.end()) == ack; });
    ASSERT_GE(received.size(), 6u);
    EXPECT_LE(received.size(), 11u);
    EXPECT_EQ(Bytes(received.end() - 3, received.end()), ack);
}

TEST(HcLineTest, SilenceDiscardsWhatArrivesMeanwhile) {
    HcLine line({At(1)});
    HcDevice& device = line.Device(1);
    device.InjectFault({FaultKind::Silence, 0, 1, 1500});
    SlavePort port(line.SlavePath());
    port.Send(MakeWriteRequest(1, 0x2000, Bytes{0x11}));  // starts the silence
    port.Send(MakeWriteRequest(1, 0x2001, Bytes{0x22}));  // heard by nobody
    ASSERT_TRUE(Eventually([&] { return line.Stats().framesSilenced == 1; }));
    ASSERT_TRUE(Eventually([&] { return !device.Silenced(); }));

    port.Send(MakeReadRequest(1, 0x2000, 2));
    EXPECT_EQ(port.Receive(6), ReadAnswer({0x00, 0x00}));
    EXPECT_EQ(device.Stats().silencedFrames, 1u);
    EXPECT_EQ(device.Stats().writeFrames, 0u);
}

TEST(HcLineTest, ALineThatIsGoneHangsUpItsClients) {
    HcLine line({At(1)});
    line.Device(1).InjectFault({FaultKind::LineGone, 1, 1, 0});
    SlavePort port(line.SlavePath());
    port.Send(MakeReadRequest(1, 0x2000, 2));
    EXPECT_EQ(port.Receive(6), ReadAnswer({0x00, 0x00}));
    const int watcher = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(watcher, 0);
    port.Send(MakeReadRequest(1, 0x2000, 2));
    EXPECT_TRUE(Eventually([&] {
        pollfd wait{watcher, POLLIN, 0};
        return ::poll(&wait, 1, 100) == 1 && (wait.revents & POLLHUP) != 0;
    }));
    ::close(watcher);
    EXPECT_LT(::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), 0);
}

TEST(HcLineTest, PacingMakesALongAnswerTakeItsWireTime) {
    LineOptions options;
    options.baud = 9600;
    HcLine line({At(1)}, options);
    SlavePort port(line.SlavePath());
    const auto start = Clock::now();
    port.Send(MakeReadRequest(1, 0x0000, 256));
    const Bytes answer = port.Receive(260);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(answer.size(), 260u);
    // 267 bytes of 11 bits at 9600 baud are about 306 ms on the wire.
    EXPECT_GE(elapsed, 250ms);
}

TEST(HcLineTest, LinkNamesTheLineUntilStop) {
    char folder[] = "/tmp/hc_line_test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path link = std::filesystem::path(folder) / "com1";
    std::filesystem::create_symlink("/nonexistent", link);  // a stale link is replaced

    LineOptions options;
    options.linkPath = link.string();
    HcLine line({At(1)}, options);
    EXPECT_EQ(std::filesystem::read_symlink(link), line.SlavePath());
    {
        SlavePort port(link.string());
        port.Send(MakeReadRequest(1, 0x1020, 2));
        EXPECT_EQ(port.Receive(6).size(), 6u);
    }
    line.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    line.Stop();
    std::filesystem::remove_all(folder);
}

TEST(HcLineTest, ClientsMayComeAndGo) {
    HcLine line({At(1)});
    for (int i = 0; i < 3; ++i) {
        SlavePort port(line.SlavePath());
        port.Send(MakeReadRequest(1, 0x1020, 1));
        EXPECT_EQ(port.Receive(5).size(), 5u) << "client " << i;
    }
}

TEST(HcLineTest, StopInterruptsASlowAnswer) {
    LineOptions options;
    options.baud = 300;  // 260 bytes would take almost 10 s
    HcLine line({At(1)}, options);
    SlavePort port(line.SlavePath());
    port.Send(MakeReadRequest(1, 0x0000, 256));
    EXPECT_GE(port.Receive(2).size(), 2u);
    const auto start = Clock::now();
    line.Stop();
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST(HcLineTest, RefusesABadDeviceList) {
    EXPECT_THROW(HcLine({}), std::invalid_argument);
    EXPECT_THROW(HcLine({At(4), At(4)}), std::invalid_argument);
    HcConfig unknown = At(1);
    unknown.version = 99;
    EXPECT_THROW(HcLine({unknown}), std::invalid_argument);
}

}  // namespace
}  // namespace emulators
