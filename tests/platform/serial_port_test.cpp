#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The master side of a pseudo-terminal; ports under test open the slave.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        char name[128] = {};
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, name, sizeof name) == 0) {
            slavePath_ = name;
        }
    }
    ~PseudoTerminal() { CloseMaster(); }

    const std::string& SlavePath() const { return slavePath_; }
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    void Send(const Bytes& bytes) const {
        EXPECT_EQ(::write(master_, bytes.data(), bytes.size()), std::ssize(bytes));
    }
    // What the port sent, waiting up to 10 s for `count` bytes.
    Bytes Receive(std::size_t count) const {
        Bytes got;
        const Clock::time_point start = Clock::now();
        pollfd entry{master_, POLLIN, 0};
        while (got.size() < count && MsSince(start) < 10000 && ::poll(&entry, 1, 100) >= 0) {
            std::uint8_t chunk[256];
            const ssize_t n = (entry.revents & POLLIN) ? ::read(master_, chunk, sizeof chunk) : 0;
            got.insert(got.end(), chunk, chunk + std::max<ssize_t>(n, 0));
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = SerialPort::Open(pty_.SlavePath());
        ASSERT_NE(port_, nullptr) << "errno " << errno;
    }

    termios DeviceSettings() const {
        termios settings{};
        EXPECT_EQ(::tcgetattr(port_->NativeHandle(), &settings), 0);
        return settings;
    }

    Bytes Read(std::size_t count, const CommTimeouts& timeouts, bool& ok) {
        EXPECT_TRUE(port_->SetCommTimeouts(timeouts));
        Bytes buffer(count);
        std::size_t done = 0;
        ok = port_->Read(buffer.data(), count, done);
        buffer.resize(done);
        return buffer;
    }

    PseudoTerminal pty_;
    std::unique_ptr<SerialPort> port_;
};

TEST(ComPortNames, OnlyCom1ToCom8ResolveThroughEnvironmentOrTtyS) {
    EXPECT_EQ(ComPortNumber("COM3"), 3);
    EXPECT_EQ(ComPortNumber("coM8"), 8);
    for (const char* bad : {"COM0", "COM9", "COM12", "COMX", "", "COM", "LPT1", "COM3 "}) {
        EXPECT_EQ(ComPortNumber(bad), std::nullopt) << bad;
    }
    ::setenv("CALVIX_COM7", "", 1);
    EXPECT_EQ(ComPortDevicePath(7), "/dev/ttyS6");
    ::setenv("CALVIX_COM7", "/dev/pts/42", 1);
    EXPECT_EQ(ComPortDevicePath(7), "/dev/pts/42");
    ::unsetenv("CALVIX_COM7");
    EXPECT_EQ(ComPortDevicePath(7), "/dev/ttyS6");
}

TEST(SerialPortOpen, ComNameOpensTheDeviceExclusivelyUntilClosed) {
    PseudoTerminal pty;
    ::setenv("CALVIX_COM5", pty.SlavePath().c_str(), 1);
    auto first = SerialPort::Open("com5");
    ::unsetenv("CALVIX_COM5");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->DevicePath(), pty.SlavePath());
    errno = 0;
    EXPECT_EQ(SerialPort::Open(pty.SlavePath()), nullptr);
    EXPECT_EQ(errno, EBUSY);
    first.reset();
    EXPECT_NE(SerialPort::Open(pty.SlavePath()), nullptr);
}

TEST(SerialPortOpen, RefusesWhatIsNotATerminal) {
    errno = 0;
    EXPECT_EQ(SerialPort::Open("/dev/null"), nullptr);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(SerialPort::Open("COM9"), nullptr);
    EXPECT_EQ(SerialPort::Open("relative/tty"), nullptr);
}

TEST(SerialPortOpen, RestoresTheSettingsItFoundWhenClosed) {
    PseudoTerminal pty;
    const int watcher = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(watcher, 0);
    termios before{};
    termios during{};
    termios after{};
    ASSERT_EQ(::tcgetattr(watcher, &before), 0);
    {
        const auto port = SerialPort::Open(pty.SlavePath());
        ASSERT_NE(port, nullptr);
        ASSERT_EQ(::tcgetattr(watcher, &during), 0);
    }
    ASSERT_EQ(::tcgetattr(watcher, &after), 0);
    EXPECT_NE(before.c_lflag & ICANON, 0u);
    EXPECT_EQ(during.c_lflag & ICANON, 0u);  // raw while open
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    ::close(watcher);
}

TEST(DeviceControlMapping, SetsTermiosFields) {
    termios t{};
    DeviceControl dcb;
    dcb.baudRate = 19200;
    dcb.fParity = true;
    dcb.stopBits = kTwoStopBits;
    const std::pair<Parity, tcflag_t> parities[] = {
        {kMarkParity, PARENB | CMSPAR | PARODD},
        {kSpaceParity, PARENB | CMSPAR},
        {kOddParity, PARENB | PARODD},
        {kEvenParity, PARENB},
        {kNoParity, 0},
    };
    for (const auto& [parity, flags] : parities) {
        dcb.parity = parity;
        ASSERT_TRUE(ToTermios(dcb, t));
        EXPECT_EQ(t.c_cflag & (PARENB | CMSPAR | PARODD), flags) << int{parity};
    }
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB), static_cast<tcflag_t>(CS8 | CSTOPB));
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));

    dcb.fParity = false;
    dcb.byteSize = 7;
    dcb.stopBits = kOneStopBit;
    dcb.fOutxCtsFlow = true;
    dcb.fOutX = true;
    dcb.xonChar = 0x11;
    ASSERT_TRUE(ToTermios(dcb, t));
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS7 | CRTSCTS));
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK | IXON | IXOFF), static_cast<tcflag_t>(IXON));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
}

TEST(DeviceControlMapping, RefusesWhatTheLineCannotDoAndChangesNothing) {
    for (auto change :
         {+[](DeviceControl& d) { d.baudRate = 12345; }, +[](DeviceControl& d) { d.baudRate = 0; },
          +[](DeviceControl& d) { d.byteSize = 9; }, +[](DeviceControl& d) { d.parity = 5; },
          +[](DeviceControl& d) { d.stopBits = kOne5StopBits; }}) {
        DeviceControl bad;
        change(bad);
        termios t{};
        EXPECT_FALSE(ToTermios(bad, t));
        EXPECT_EQ(t.c_cflag, 0u);
    }
}

// A pseudo-terminal keeps speed, CMSPAR, PARODD and the input flags, but clears PARENB and
// forces CS8 whatever is asked; so no parity emulation starts there.
TEST_F(SerialPortTest, CommStateReachesTheDevice) {
    DeviceControl dcb;
    ASSERT_TRUE(port_->GetCommState(dcb));
    EXPECT_EQ(dcb.byteSize, 8);  // raw mode after open
    EXPECT_EQ(dcb.parity, kNoParity);

    dcb.baudRate = 19200;
    dcb.parity = kMarkParity;
    dcb.fParity = true;
    ASSERT_TRUE(port_->SetCommState(dcb));
    termios t = DeviceSettings();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_FALSE(port_->UsesParityEmulation());

    dcb.parity = kSpaceParity;
    dcb.fDtrControl = kLineDisable;  // no modem lines on a pty: not a failure
    ASSERT_TRUE(port_->SetCommState(dcb));
    t = DeviceSettings();
    EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR));

    dcb.baudRate = 12345;
    EXPECT_FALSE(port_->SetCommState(dcb));
    DeviceControl stored;
    ASSERT_TRUE(port_->GetCommState(stored));
    EXPECT_EQ(stored.baudRate, 19200u);
    EXPECT_EQ(stored.parity, kSpaceParity);
    EXPECT_EQ(stored.fDtrControl, kLineDisable);
}

TEST_F(SerialPortTest, WritesReachTheLineAndTimeOutWhenItIsFull) {
    const Bytes frame = {0x01, 0x08, 0x02, 0x00, 0xFF, 0x0F, 0x19};
    std::size_t done = 0;
    ASSERT_TRUE(port_->Write(frame.data(), frame.size(), done));
    EXPECT_EQ(done, frame.size());
    EXPECT_EQ(pty_.Receive(frame.size()), frame);

    ASSERT_TRUE(port_->SetCommTimeouts(CommTimeouts{0, 0, 0, 0, 200}));
    const Bytes big(1 << 20, 0x55);  // far more than the unread line holds
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(port_->Write(big.data(), big.size(), done));
    EXPECT_GE(MsSince(start), 160);
    EXPECT_GT(done, 0u);
    EXPECT_LT(done, big.size());
}

TEST_F(SerialPortTest, ReadEndsWhenTheCountIsReached) {
    pty_.Send({1, 2, 3, 4, 5, 6});
    bool ok = false;
    EXPECT_EQ(Read(4, CommTimeouts{0, 0, 60000, 0, 0}, ok), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Read(2, CommTimeouts{}, ok), (Bytes{5, 6}));

    // All zeros: no time-out at all, so bytes that come late are waited for.
    std::thread writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty_.Send({7, 8});
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty_.Send({9});
    });
    EXPECT_EQ(Read(3, CommTimeouts{}, ok), (Bytes{7, 8, 9}));
    EXPECT_TRUE(ok);
    writer.join();
}

TEST_F(SerialPortTest, TimedOutReadsAreNotErrors) {
    bool ok = false;
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(Read(5, CommTimeouts{0, 20, 100, 0, 0}, ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_GE(MsSince(start), 160);  // 20 * 5 + 100

    // Bytes stop coming: the interval ends the read long before the total would.
    pty_.Send({0x10, 0x20, 0x30});
    const Clock::time_point stalled = Clock::now();
    EXPECT_EQ(Read(10, CommTimeouts{50, 0, 60000, 0, 0}, ok), (Bytes{0x10, 0x20, 0x30}));
    EXPECT_TRUE(ok);
    EXPECT_LT(MsSince(stalled), 50000);

    pty_.Send({1, 2, 3});  // a total beyond 64 bits of milliseconds
    EXPECT_EQ(Read(3, CommTimeouts{0, kMaxDword - 1, kMaxDword, 0, 0}, ok), (Bytes{1, 2, 3}));
}

TEST_F(SerialPortTest, MaxDwordIntervalReturnsWithoutWaitingForTheCount) {
    bool ok = false;
    EXPECT_TRUE(Read(4, CommTimeouts{kMaxDword, 0, 0, 0, 0}, ok).empty());
    EXPECT_TRUE(ok);
    pty_.Send({1, 2});
    pollfd entry{port_->NativeHandle(), POLLIN, 0};  // the bytes cross the pty asynchronously
    ASSERT_EQ(::poll(&entry, 1, 10000), 1);
    EXPECT_EQ(Read(4, CommTimeouts{kMaxDword, 0, 0, 0, 0}, ok), (Bytes{1, 2}));

    // MAXDWORD as multiplier too: what is buffered at once, else the first bytes to come.
    std::thread writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty_.Send({6});
    });
    EXPECT_EQ(Read(10, CommTimeouts{kMaxDword, kMaxDword, 60000, 0, 0}, ok), (Bytes{6}));
    EXPECT_TRUE(ok);
    writer.join();
    const Clock::time_point quiet = Clock::now();
    EXPECT_TRUE(Read(10, CommTimeouts{kMaxDword, kMaxDword, 100, 0, 0}, ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_GE(MsSince(quiet), 80);
}

TEST_F(SerialPortTest, ParityCheckingKeepsEveryReceivedByte) {
    DeviceControl dcb;
    dcb.fParity = true;
    dcb.parity = kSpaceParity;
    ASSERT_TRUE(port_->SetCommState(dcb));
    pty_.Send({0x01, 0xFF, 0x02, 0xFF});  // the kernel doubles 0xFF while marking input
    bool ok = false;
    EXPECT_EQ(Read(4, CommTimeouts{0, 0, 60000, 0, 0}, ok), (Bytes{0x01, 0xFF, 0x02, 0xFF}));
    EXPECT_TRUE(ok);
}

TEST_F(SerialPortTest, ReadAndWriteFailWhenTheOtherSideHangsUp) {
    pty_.CloseMaster();
    bool ok = true;
    EXPECT_TRUE(Read(4, CommTimeouts{0, 0, 60000, 0, 0}, ok).empty());
    EXPECT_FALSE(ok);
    std::size_t done = 0;
    const std::uint8_t byte = 0x42;
    EXPECT_FALSE(port_->Write(&byte, 1, done));
}

TEST(ParityEmulation, PutsTheRequestedBitOnTheWire) {
    EXPECT_EQ(EmulatedParityFor(0x00, true), kOddParity);
    EXPECT_EQ(EmulatedParityFor(0x00, false), kEvenParity);
    for (int value = 0; value < 256; ++value) {
        for (const bool bit : {false, true}) {
            // Data and parity bit together hold an even (or odd) number of ones.
            const int ones = std::popcount(static_cast<unsigned>(value)) + (bit ? 1 : 0);
            EXPECT_EQ(EmulatedParityFor(static_cast<std::uint8_t>(value), bit),
                      ones % 2 == 0 ? kEvenParity : kOddParity);
        }
    }
}

TEST(MarkedInput, KeepsErrorBytesAndUndoublesFf) {
    MarkedInputDecoder decoder;
    Bytes decoded;
    for (const std::uint8_t in : {0x01, 0xFF, 0xFF, 0x02, 0xFF, 0x00, 0x41, 0xFF, 0x00, 0x00}) {
        std::uint8_t out = 0;
        if (decoder.Feed(in, out)) {
            decoded.push_back(out);
        }
    }
    EXPECT_EQ(decoded, (Bytes{0x01, 0xFF, 0x02, 0x41, 0x00}));
}

}  // namespace
}  // namespace platform
