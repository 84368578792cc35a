#include "platform/tty_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

struct BaudRate {
    std::uint32_t rate;
    speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedForRate(std::uint32_t rate) {
    for (const BaudRate& entry : kBaudRates) {
        if (entry.rate == rate) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

// 0 when termios holds a speed that has no rate in the table.
std::uint32_t RateForSpeed(speed_t speed) {
    for (const BaudRate& entry : kBaudRates) {
        if (entry.speed == speed) {
            return entry.rate;
        }
    }
    return 0;
}

// Indexed by byte size - 5.
constexpr tcflag_t kCharacterSizes[] = {CS5, CS6, CS7, CS8};

std::optional<tcflag_t> CharacterSize(std::uint8_t byteSize) {
    if (byteSize < 5 || byteSize > 8) {
        return std::nullopt;
    }
    return kCharacterSizes[byteSize - 5];
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
    for (std::uint8_t i = 0; i < 4; ++i) {
        if ((cflag & CSIZE) == kCharacterSizes[i]) {
            return static_cast<std::uint8_t>(i + 5);
        }
    }
    return 8;
}

// The UART sends 1.5 stop bits for CSTOPB with 5-bit characters and 2 otherwise; like Win32,
// refuse the combinations it cannot send.
bool StopBitsFit(std::uint8_t stopBits, std::uint8_t byteSize) {
    switch (stopBits) {
        case kOneStopBit:
            return true;
        case kOne5StopBits:
            return byteSize == 5;
        case kTwoStopBits:
            return byteSize != 5;
        default:
            return false;
    }
}

// Indexed by the Win32 parity code.
constexpr tcflag_t kParityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                     PARENB | CMSPAR};

std::uint8_t ParityOf(tcflag_t cflag) {
    const tcflag_t flags = (cflag & PARENB) != 0 ? cflag & (PARENB | PARODD | CMSPAR) : 0;
    for (std::uint8_t code = kNoParity; code <= kSpaceParity; ++code) {
        if (kParityFlags[code] == flags) {
            return code;
        }
    }
    return kNoParity;
}

// Pseudo-terminals have no modem lines and say so with ENOTTY or EINVAL; that is not a failure.
bool SetModemLine(int fd, int line, bool on) {
    int bits = line;
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) {
        return true;
    }
    return errno == ENOTTY || errno == EINVAL;
}

DeviceControl DeviceControlFrom(const termios& settings, int fd) {
    DeviceControl dcb;
    dcb.baudRate = RateForSpeed(cfgetospeed(&settings));
    dcb.byteSize = ByteSizeOf(settings.c_cflag);
    dcb.parity = ParityOf(settings.c_cflag);
    if ((settings.c_cflag & CSTOPB) != 0) {
        dcb.stopBits = dcb.byteSize == 5 ? kOne5StopBits : kTwoStopBits;
    } else {
        dcb.stopBits = kOneStopBit;
    }
    dcb.fParity = (settings.c_iflag & INPCK) != 0;
    dcb.fOutxCtsFlow = (settings.c_cflag & CRTSCTS) != 0;
    dcb.fOutX = (settings.c_iflag & IXON) != 0;
    dcb.fInX = (settings.c_iflag & IXOFF) != 0;
    dcb.xonChar = static_cast<char>(settings.c_cc[VSTART]);
    dcb.xoffChar = static_cast<char>(settings.c_cc[VSTOP]);
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0) {
        dcb.fDtrControl = (lines & TIOCM_DTR) != 0 ? kLineEnable : kLineDisable;
        dcb.fRtsControl = (lines & TIOCM_RTS) != 0 ? kLineEnable : kLineDisable;
    }
    return dcb;
}

// With VMIN = VTIME = 0 a read of a hung-up terminal returns 0 just like a read with no data;
// only poll() tells them apart.
bool IsHungUp(int fd) {
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

// Takes what the driver holds, up to `count` bytes in all. False on an error or a hang-up.
bool ReadMarked(int fd, MarkedInputDecoder* marks, std::uint8_t* buffer, std::size_t count,
                std::size_t& done) {
    while (done < count) {
        const ssize_t got = ::read(fd, buffer + done, count - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        if (got == 0) {
            if (IsHungUp(fd)) {
                errno = EIO;
                return false;
            }
            return true;
        }
        const std::size_t end = done + static_cast<std::size_t>(got);
        if (marks == nullptr) {
            done = end;
            continue;
        }
        // Decoded bytes are never more than the marked ones, so this works in place.
        std::size_t kept = done;
        for (std::size_t i = done; i < end; ++i) {
            std::uint8_t byte = 0;
            if (marks->Feed(buffer[i], byte)) {
                buffer[kept++] = byte;
            }
        }
        done = kept;
    }
    return true;
}

bool SetEvenOrOddParity(int fd, std::uint8_t parity) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return false;
    }
    settings.c_cflag |= PARENB;
    if (parity == kOddParity) {
        settings.c_cflag |= PARODD;
    } else {
        settings.c_cflag &= ~PARODD;
    }
    ::tcsetattr(fd, TCSADRAIN, &settings);  // judged by what applied, as in SetCommState
    termios applied{};
    return ::tcgetattr(fd, &applied) == 0 &&
           (applied.c_cflag & (PARENB | PARODD)) == (settings.c_cflag & (PARENB | PARODD));
}

class TtyChannel final : public PortChannel {
  public:
    TtyChannel(int fd, std::unique_ptr<termios> original, DeviceControl current, bool marked)
        : fd_(fd), original_(std::move(original)), dcb_(current), markedInput_(marked) {}
    ~TtyChannel() override;
    TtyChannel(const TtyChannel&) = delete;
    TtyChannel& operator=(const TtyChannel&) = delete;

    bool Configure(const DeviceControl& dcb) override;
    DeviceControl Current() const override { return dcb_; }
    bool ReadAvailable(std::uint8_t* buffer, std::size_t count, std::size_t& done) override {
        return ReadMarked(fd_, markedInput_ ? &markDecoder_ : nullptr, buffer, count, done);
    }
    bool Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done,
               Deadline deadline) override;
    int PollHandle() const override { return fd_; }
    void PurgeInput() override {
        ::tcflush(fd_, TCIFLUSH);
        markDecoder_.Reset();
    }
    std::optional<int> ModemLines() override;
    bool SetDtr(bool on) override;
    bool UsesParityEmulation() const override { return parityEmulation_; }

  private:
    bool WriteEmulatedParity(const std::uint8_t* buffer, std::size_t count, std::size_t& done,
                             Deadline deadline);

    int fd_;
    std::unique_ptr<termios> original_;  // restored at close
    DeviceControl dcb_;
    bool markedInput_;  // PARMRK is on: reads go through markDecoder_
    MarkedInputDecoder markDecoder_;
    bool parityEmulation_ = false;
    std::uint8_t wireParity_ = kNoParity;  // even or odd, as termios holds it while emulating
    unsigned savedSpeed_ = 0;              // the speed before DTR was dropped with B0
};

}  // namespace

bool ToTermios(const DeviceControl& dcb, termios& settings) {
    const std::optional<speed_t> speed = SpeedForRate(dcb.baudRate);
    const std::optional<tcflag_t> size = CharacterSize(dcb.byteSize);
    if (!speed || !size || dcb.parity > kSpaceParity || !StopBitsFit(dcb.stopBits, dcb.byteSize)) {
        return false;
    }
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    settings.c_cflag |= *size | CLOCAL | CREAD | kParityFlags[dcb.parity];
    if (dcb.stopBits != kOneStopBit) {
        settings.c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow) {
        settings.c_cflag |= CRTSCTS;
    }
    settings.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
    if (dcb.fParity) {
        // Marked, not zeroed: Win32 hands over bytes with parity errors unchanged.
        settings.c_iflag |= INPCK | PARMRK;
    }
    if (dcb.fOutX) {
        settings.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        settings.c_iflag |= IXOFF;
    }
    settings.c_cc[VSTART] = static_cast<cc_t>(dcb.xonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(dcb.xoffChar);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, *speed);
    ::cfsetospeed(&settings, *speed);
    return true;
}

Parity EmulatedParityFor(std::uint8_t byte, bool parityBitSet) {
    // Even parity sends a 1 exactly when the data holds an odd number of ones.
    const bool oddOnes = std::popcount(byte) % 2 != 0;
    return oddOnes == parityBitSet ? kEvenParity : kOddParity;
}

bool MarkedInputDecoder::Feed(std::uint8_t in, std::uint8_t& out) {
    switch (state_) {
        case kAfterMark:
            if (in == 0) {
                state_ = kAfterMarkZero;
                return false;
            }
            state_ = kPlain;
            out = in;  // "\377\377"
            return true;
        case kAfterMarkZero:
            state_ = kPlain;
            out = in;
            return true;
        case kPlain:
            break;
    }
    if (in == 0xFF) {
        state_ = kAfterMark;
        return false;
    }
    out = in;
    return true;
}

bool DeviceControlFits(const DeviceControl& dcb) {
    return dcb.baudRate != 0 && CharacterSize(dcb.byteSize).has_value() &&
           dcb.parity <= kSpaceParity && StopBitsFit(dcb.stopBits, dcb.byteSize);
}

namespace {

TtyChannel::~TtyChannel() {
    // Let the last bytes leave under the settings they were sent with, unless flow control
    // could hold them back for ever.
    const bool flowControl = dcb_.fOutxCtsFlow || dcb_.fOutX;
    ::tcsetattr(fd_, flowControl ? TCSANOW : TCSADRAIN, original_.get());
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

bool TtyChannel::Configure(const DeviceControl& dcb) {
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) {
        return false;
    }
    // A refused block changes nothing, as on Win32.
    if (!ToTermios(dcb, settings)) {
        errno = EINVAL;
        return false;
    }
    // TCSADRAIN: the address byte must be on the line before the parity changes.
    const int setResult = ::tcsetattr(fd_, TCSADRAIN, &settings);
    const int setError = errno;

    // What applied is what counts: the C library compares the result with the request and
    // may report a failure when a driver left out a flag it cannot do (a pseudo-terminal
    // drops parity), although the change went through.
    termios applied{};
    if (::tcgetattr(fd_, &applied) != 0) {
        return false;
    }
    if (setResult != 0 && (cfgetospeed(&applied) != cfgetospeed(&settings) ||
                           (applied.c_cflag & CSIZE) != (settings.c_cflag & CSIZE))) {
        errno = setError;
        return false;
    }
    // Emulate only where the driver kept the parity bit but lost CMSPAR; a driver without
    // parity at all (a pseudo-terminal) has nothing to emulate.
    const bool markOrSpace = dcb.parity == kMarkParity || dcb.parity == kSpaceParity;
    parityEmulation_ = markOrSpace && (applied.c_cflag & (PARENB | CMSPAR)) == PARENB;
    if (parityEmulation_) {
        // Received bytes cannot be checked against MARK/SPACE with even or odd parity set.
        if ((applied.c_iflag & INPCK) != 0) {
            applied.c_iflag &= ~(INPCK | PARMRK);
            if (::tcsetattr(fd_, TCSADRAIN, &applied) != 0 || ::tcgetattr(fd_, &applied) != 0) {
                return false;
            }
        }
        wireParity_ = (applied.c_cflag & PARODD) != 0 ? kOddParity : kEvenParity;
    }
    const bool marked = (applied.c_iflag & (INPCK | PARMRK)) == (INPCK | PARMRK);
    if (!marked) {
        markDecoder_.Reset();
    }
    markedInput_ = marked;
    dcb_ = dcb;

    return SetModemLine(fd_, TIOCM_DTR, dcb.fDtrControl != kLineDisable) &&
           SetModemLine(fd_, TIOCM_RTS, dcb.fRtsControl != kLineDisable);
}

bool TtyChannel::Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done,
                       Deadline deadline) {
    done = 0;
    if (parityEmulation_) {
        return WriteEmulatedParity(buffer, count, done, deadline);
    }
    return WriteUntil(fd_, Descriptor::kTerminal, buffer, count, done, deadline);
}

bool TtyChannel::WriteEmulatedParity(const std::uint8_t* buffer, std::size_t count,
                                     std::size_t& done, Deadline deadline) {
    const bool parityBitSet = dcb_.parity == kMarkParity;
    const std::uint8_t dataMask = static_cast<std::uint8_t>((1u << dcb_.byteSize) - 1u);
    for (std::size_t i = 0; i < count; ++i) {
        const Parity needed =
            EmulatedParityFor(static_cast<std::uint8_t>(buffer[i] & dataMask), parityBitSet);
        if (needed != wireParity_) {
            if (!SetEvenOrOddParity(fd_, needed)) {
                return false;
            }
            wireParity_ = needed;
        }
        if (!WriteUntil(fd_, Descriptor::kTerminal, buffer, i + 1, done, deadline)) {
            return false;
        }
    }
    return true;
}

std::optional<int> TtyChannel::ModemLines() {
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
        return std::nullopt;  // ENOTTY: a pseudo-terminal has none
    }
    return lines;
}

// Speed 0 is how termios drops DTR on drivers that ignore TIOCMBIC; both are done.
bool TtyChannel::SetDtr(bool on) {
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) {
        return false;
    }
    if (!on) {
        savedSpeed_ = static_cast<unsigned>(cfgetospeed(&settings));
        cfsetospeed(&settings, B0);
    } else if (savedSpeed_ != 0) {
        cfsetospeed(&settings, static_cast<speed_t>(savedSpeed_));
    }
    const bool applied = ::tcsetattr(fd_, TCSANOW, &settings) == 0;
    int dtr = TIOCM_DTR;
    [[maybe_unused]] const int lines = ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &dtr);
    return applied;
}

}  // namespace

std::unique_ptr<PortChannel> OpenTtyChannel(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto fail = [fd] {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    };
    if (!::isatty(fd)) {
        errno = ENOTTY;
        return fail();
    }
    // TIOCEXCL does not stop root, the flock does; take it before touching anything.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            errno = EBUSY;
        }
        return fail();
    }
    auto original = std::make_unique<termios>();
    if (::ioctl(fd, TIOCEXCL) != 0 || ::tcgetattr(fd, original.get()) != 0) {
        return fail();
    }
    termios raw = *original;
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if ((raw.c_iflag & INPCK) != 0) {
        raw.c_iflag |= PARMRK;  // bytes with errors stay readable, as on Win32
    }
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &raw) != 0 || ::tcgetattr(fd, &raw) != 0) {
        const int error = errno;
        ::tcsetattr(fd, TCSANOW, original.get());
        ::ioctl(fd, TIOCNXCL);
        errno = error;
        return fail();
    }
    const bool marked = (raw.c_iflag & (INPCK | PARMRK)) == (INPCK | PARMRK);
    return std::make_unique<TtyChannel>(fd, std::move(original), DeviceControlFrom(raw, fd),
                                        marked);
}

}  // namespace platform
