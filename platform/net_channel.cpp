#include "platform/net_channel.h"

#include "platform/telnet_com_port.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != prefix[i]) {
            return false;
        }
    }
    return true;
}

constexpr std::string_view kTelnetScheme = "rfc2217://";
constexpr std::string_view kRawScheme = "tcp://";

// Connects to the first address that answers within the time-out; -1 with errno set.
int Connect(const NetworkPortAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.host.c_str(), address.service.c_str(), &hints, &found) != 0) {
        errno = EHOSTUNREACH;
        return -1;
    }
    const Deadline deadline = Clock::now() + std::chrono::milliseconds(kNetworkConnectTimeoutMs);
    int error = ECONNREFUSED;
    int fd = -1;
    for (const addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      at->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0 && errno != EINPROGRESS) {
            error = errno;
        } else if (WaitForHandle(fd, POLLOUT, deadline) != WaitResult::kReady) {
            error = ETIMEDOUT;
        } else {
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
                continue;  // connected
            }
        }
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        errno = error;
        return -1;
    }
    // Requests are a few bytes with pauses between them that the device relies on: no Nagle.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A server that vanished without a word is noticed within about half a minute.
    const int idle = 10;
    const int interval = 5;
    const int probes = 4;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    return fd;
}

class NetChannel final : public PortChannel {
  public:
    NetChannel(int fd, bool telnet) : fd_(fd), telnet_(telnet) {}
    ~NetChannel() override { ::close(fd_); }
    NetChannel(const NetChannel&) = delete;
    NetChannel& operator=(const NetChannel&) = delete;

    // Sends the greeting and waits until the server takes or refuses COM-port control.
    bool NegotiateComPort();

    bool Configure(const DeviceControl& dcb) override;
    DeviceControl Current() const override { return dcb_; }
    bool ReadAvailable(std::uint8_t* buffer, std::size_t count, std::size_t& done) override;
    bool Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done,
               Deadline deadline) override;
    int PollHandle() const override { return fd_; }
    void PurgeInput() override;
    std::optional<int> ModemLines() override;
    bool SetDtr(bool on) override;
    bool SwitchesParity() const override { return telnet_; }
    std::uint32_t LatencyAllowanceMs() const override { return kNetworkLatencyAllowanceMs; }

  private:
    // Moves what the socket holds into pending_. False when the server is gone or on an error.
    bool Pump();
    bool Send(const std::vector<std::uint8_t>& bytes, Deadline deadline);
    std::vector<std::uint8_t> CommandsFor(const DeviceControl& dcb) const;

    int fd_;
    bool telnet_;
    telnet::Decoder decoder_;
    std::vector<std::uint8_t> pending_;  // line data taken from the socket, not yet read
    DeviceControl dcb_{};
    bool configured_ = false;
    Clock::time_point drainedAt_{};  // when the bytes written so far have left the server's line
    std::mutex sendMutex_;           // a modem line writes from several threads
};

bool NetChannel::NegotiateComPort() {
    const Deadline deadline = Clock::now() + std::chrono::milliseconds(kNetworkConnectTimeoutMs);
    if (!Send(telnet::ClientGreeting(), deadline)) {
        return false;
    }
    while (decoder_.ComPortState() == telnet::Decoder::ComPort::kUnknown) {
        if (WaitForHandle(fd_, POLLIN, deadline) != WaitResult::kReady) {
            errno = EPROTONOSUPPORT;
            return false;
        }
        if (!Pump()) {
            return false;
        }
    }
    if (decoder_.ComPortState() == telnet::Decoder::ComPort::kRefused) {
        errno = EPROTONOSUPPORT;
        return false;
    }
    pending_.clear();  // a banner, or bytes from before the open: a fresh port holds no input
    return true;
}

bool NetChannel::Pump() {
    std::uint8_t raw[4096];
    for (;;) {
        const ssize_t got = ::recv(fd_, raw, sizeof raw, MSG_DONTWAIT);
        if (got > 0) {
            // Acknowledge at once: a server that sends an answer in two segments under Nagle's
            // rule would otherwise wait for our delayed acknowledgement, 40 ms an exchange.
            const int on = 1;
            ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            if (!telnet_) {
                pending_.insert(pending_.end(), raw, raw + got);
                continue;
            }
            decoder_.Feed(raw, static_cast<std::size_t>(got), pending_);
            const std::vector<std::uint8_t> replies = decoder_.TakeReplies();
            if (!replies.empty() && !Send(replies, Clock::now() + std::chrono::milliseconds(
                                                                      kNetworkConnectTimeoutMs))) {
                return false;
            }
            continue;
        }
        if (got == 0) {
            errno = EIO;  // the server closed the connection: the line is gone
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool NetChannel::ReadAvailable(std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    if (pending_.size() < count - done && !Pump()) {
        return false;
    }
    const std::size_t take = std::min(pending_.size(), count - done);
    std::copy_n(pending_.begin(), take, buffer + done);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    done += take;
    return true;
}

bool NetChannel::Send(const std::vector<std::uint8_t>& bytes, Deadline deadline) {
    std::lock_guard lock(sendMutex_);
    std::size_t sent = 0;
    return WriteUntil(fd_, Descriptor::kSocket, bytes.data(), bytes.size(), sent, deadline);
}

bool NetChannel::Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done,
                       Deadline deadline) {
    std::vector<std::uint8_t> bytes;
    if (telnet_) {
        telnet::AppendData(bytes, buffer, count);
    } else {
        bytes.assign(buffer, buffer + count);
    }
    if (!Send(bytes, deadline)) {
        return false;
    }
    done = count;
    if (dcb_.baudRate != 0) {
        const auto wireTime = std::chrono::microseconds(static_cast<std::int64_t>(count) * 11 *
                                                        1000000 / dcb_.baudRate);
        drainedAt_ = std::max(drainedAt_, Clock::now()) + wireTime;
    }
    return true;
}

std::vector<std::uint8_t> NetChannel::CommandsFor(const DeviceControl& dcb) const {
    std::vector<std::uint8_t> out;
    auto command = [&out](std::uint8_t code, std::vector<std::uint8_t> value) {
        telnet::AppendComPortCommand(out, code, value);
    };
    if (!configured_ || dcb.baudRate != dcb_.baudRate) {
        const std::uint32_t rate = dcb.baudRate;
        command(telnet::kSetBaudRate,
                {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                 static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)});
    }
    if (!configured_ || dcb.byteSize != dcb_.byteSize) {
        command(telnet::kSetDataSize, {dcb.byteSize});
    }
    if (!configured_ || dcb.parity != dcb_.parity) {
        command(telnet::kSetParity, {static_cast<std::uint8_t>(dcb.parity + 1)});
    }
    if (!configured_ || dcb.stopBits != dcb_.stopBits) {
        constexpr std::uint8_t kStopSizes[] = {1, 3, 2};  // indexed by the Win32 code
        command(telnet::kSetStopSize, {kStopSizes[dcb.stopBits]});
    }
    auto flowOf = [](const DeviceControl& d) {
        return d.fOutxCtsFlow        ? telnet::kHardwareFlowControl
               : (d.fOutX || d.fInX) ? telnet::kXonXoffFlowControl
                                     : telnet::kNoFlowControl;
    };
    if (!configured_ || flowOf(dcb) != flowOf(dcb_)) {
        command(telnet::kSetControl, {flowOf(dcb)});
    }
    const bool dtr = dcb.fDtrControl != kLineDisable;
    if (!configured_ || dtr != (dcb_.fDtrControl != kLineDisable)) {
        command(telnet::kSetControl, {dtr ? telnet::kDtrOn : telnet::kDtrOff});
    }
    // Under hardware flow control the server drives RTS itself.
    const bool rts = dcb.fRtsControl != kLineDisable;
    if (!dcb.fOutxCtsFlow && (!configured_ || rts != (dcb_.fRtsControl != kLineDisable))) {
        command(telnet::kSetControl, {rts ? telnet::kRtsOn : telnet::kRtsOff});
    }
    return out;
}

bool NetChannel::Configure(const DeviceControl& dcb) {
    if (!DeviceControlFits(dcb)) {
        errno = EINVAL;
        return false;
    }
    if (telnet_) {
        const std::vector<std::uint8_t> commands = CommandsFor(dcb);
        if (!commands.empty()) {
            // The server applies a setting when it reads it, not when the line has drained: wait
            // for the bytes before it to leave, so the address byte keeps its parity.
            std::this_thread::sleep_until(drainedAt_);
            if (!Send(commands,
                      Clock::now() + std::chrono::milliseconds(kNetworkConnectTimeoutMs))) {
                return false;
            }
        }
    }
    dcb_ = dcb;
    configured_ = true;
    return true;
}

void NetChannel::PurgeInput() {
    if (telnet_) {
        std::vector<std::uint8_t> command;
        telnet::AppendComPortCommand(command, telnet::kPurgeData, {1});
        static_cast<void>(
            Send(command, Clock::now() + std::chrono::milliseconds(kNetworkConnectTimeoutMs)));
    }
    static_cast<void>(Pump());  // a server that is gone shows at the next read
    pending_.clear();
}

std::optional<int> NetChannel::ModemLines() {
    // As last read: pumping here would take line data off the socket behind a poller's back.
    if (!telnet_) {
        return std::nullopt;
    }
    const std::optional<std::uint8_t> state = decoder_.ModemState();
    if (!state) {
        return std::nullopt;
    }
    int lines = 0;
    lines |= (*state & telnet::kCarrierDetect) != 0 ? TIOCM_CAR : 0;
    lines |= (*state & telnet::kRingIndicator) != 0 ? TIOCM_RNG : 0;
    lines |= (*state & telnet::kDataSetReady) != 0 ? TIOCM_DSR : 0;
    lines |= (*state & telnet::kClearToSend) != 0 ? TIOCM_CTS : 0;
    return lines;
}

bool NetChannel::SetDtr(bool on) {
    if (!telnet_) {
        return false;
    }
    std::vector<std::uint8_t> command;
    telnet::AppendComPortCommand(command, telnet::kSetControl,
                                 {on ? telnet::kDtrOn : telnet::kDtrOff});
    if (!Send(command, Clock::now() + std::chrono::milliseconds(kNetworkConnectTimeoutMs))) {
        return false;
    }
    dcb_.fDtrControl = on ? kLineEnable : kLineDisable;
    return true;
}

}  // namespace

bool IsNetworkPortName(std::string_view name) {
    return StartsWithNoCase(name, kTelnetScheme) || StartsWithNoCase(name, kRawScheme);
}

std::optional<NetworkPortAddress> ParseNetworkPortName(std::string_view name) {
    NetworkPortAddress address;
    if (StartsWithNoCase(name, kTelnetScheme)) {
        address.telnet = true;
        name.remove_prefix(kTelnetScheme.size());
    } else if (StartsWithNoCase(name, kRawScheme)) {
        name.remove_prefix(kRawScheme.size());
    } else {
        return std::nullopt;
    }
    if (!name.empty() && name.back() == '/') {
        name.remove_suffix(1);
    }
    const std::size_t colon = name.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view host = name.substr(0, colon);
    const std::string_view service = name.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets
    }
    int port = 0;
    const auto parsed = std::from_chars(service.data(), service.data() + service.size(), port);
    if (host.empty() || service.empty() || parsed.ec != std::errc{} ||
        parsed.ptr != service.data() + service.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    address.host = std::string(host);
    address.service = std::string(service);
    return address;
}

std::unique_ptr<PortChannel> OpenNetChannel(const std::string& name) {
    const std::optional<NetworkPortAddress> address = ParseNetworkPortName(name);
    if (!address) {
        errno = EINVAL;
        return nullptr;
    }
    const int fd = Connect(*address);
    if (fd < 0) {
        return nullptr;
    }
    auto channel = std::make_unique<NetChannel>(fd, address->telnet);
    if (address->telnet && !channel->NegotiateComPort()) {
        const int error = errno;
        channel.reset();
        errno = error;
        return nullptr;
    }
    return channel;
}

}  // namespace platform
