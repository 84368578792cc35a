#include "platform/serial_port.h"

#include "platform/net_channel.h"
#include "platform/port_channel.h"
#include "platform/read_policy.h"
#include "platform/tty_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// On a slow line an answer trickles in a byte at a time; sleeping for the wire time of the
// missing bytes gathers them in one read instead of one wake-up each. The sleep never reaches
// past the read's own deadline, and the read looks once more before it ends on a time-out, so a
// byte that came within the interval is always taken.
void LetTheRestArrive(std::uint32_t baudRate, std::size_t missing, Deadline until) {
    if (baudRate == 0) {
        return;
    }
    const auto wireTime = std::chrono::microseconds(static_cast<std::int64_t>(missing) * 11 *
                                                    1000000 / static_cast<std::int64_t>(baudRate));
    std::this_thread::sleep_until(*EarlierOf(until, Clock::now() + wireTime));
}

// A non-zero, finite time-out grows by `extra` ms; zeros keep their Win32 meaning.
std::uint32_t Widened(std::uint32_t timeout, std::uint32_t extra) {
    if (timeout == 0 || timeout == kMaxDword) {
        return timeout;
    }
    return timeout > kMaxDword - 1 - extra ? kMaxDword - 1 : timeout + extra;
}

}  // namespace

WaitResult WaitForHandle(int fd, short events, Deadline deadline) {
    for (;;) {
        const int timeoutMs = PollTimeoutMs(deadline);
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, timeoutMs);
        if (ready > 0) {
            if ((entry.revents & POLLNVAL) != 0) {
                errno = EBADF;
                return WaitResult::kFailed;
            }
            return WaitResult::kReady;
        }
        if (ready == 0) {
            return WaitResult::kTimedOut;
        }
        if (errno != EINTR) {
            return WaitResult::kFailed;
        }
    }
}

bool WriteUntil(int fd, Descriptor kind, const std::uint8_t* buffer, std::size_t count,
                std::size_t& done, Deadline deadline) {
    while (done < count) {
        // A socket whose peer is gone must fail the write, not raise SIGPIPE.
        const ssize_t put = kind == Descriptor::kSocket
                                ? ::send(fd, buffer + done, count - done, MSG_NOSIGNAL)
                                : ::write(fd, buffer + done, count - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        switch (WaitForHandle(fd, POLLOUT, deadline)) {
            case WaitResult::kReady:
                break;
            case WaitResult::kTimedOut:
                errno = ETIMEDOUT;
                return false;
            case WaitResult::kFailed:
                return false;
        }
    }
    return true;
}

std::optional<int> ComPortNumber(std::string_view name) {
    if (name.size() != 4) {
        return std::nullopt;
    }
    const char prefix[] = "com";
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = name[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != prefix[i]) {
            return std::nullopt;
        }
    }
    if (name[3] < '1' || name[3] > '8') {
        return std::nullopt;
    }
    return name[3] - '0';
}

std::string ComPortDevicePath(int number) {
    const std::string variable = "CALVIX_COM" + std::to_string(number);
    const char* value = std::getenv(variable.c_str());
    if (value != nullptr && *value != '\0') {
        return value;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

SerialPort::SerialPort(std::unique_ptr<PortChannel> channel, std::string path)
    : channel_(std::move(channel)), path_(std::move(path)) {}

SerialPort::~SerialPort() = default;

std::unique_ptr<SerialPort> SerialPort::Open(std::string_view name) {
    std::string path;
    if (const std::optional<int> number = ComPortNumber(name)) {
        path = ComPortDevicePath(*number);
    } else {
        path = std::string(name);
    }
    std::unique_ptr<PortChannel> channel;
    if (IsNetworkPortName(path)) {
        channel = OpenNetChannel(path);
    } else if (!path.empty() && path.front() == '/') {
        channel = OpenTtyChannel(path);
    } else {
        errno = ENOENT;
    }
    if (!channel) {
        return nullptr;
    }
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(channel), std::move(path)));
}

bool SerialPort::GetCommState(DeviceControl& dcb) const {
    dcb = channel_->Current();
    return true;
}

bool SerialPort::SetCommState(const DeviceControl& dcb) {
    return channel_->Configure(dcb);
}

bool SerialPort::SetCommTimeouts(const CommTimeouts& timeouts) {
    timeouts_ = timeouts;
    return true;
}

CommTimeouts SerialPort::EffectiveTimeouts() const {
    const std::uint32_t extra = channel_->LatencyAllowanceMs();
    if (extra == 0) {
        return timeouts_;
    }
    CommTimeouts widened = timeouts_;
    // MAXDWORD, 0, 0 means "whatever is there": it stays that.
    const bool atOnce = timeouts_.readIntervalTimeout == kMaxDword &&
                        timeouts_.readTotalTimeoutMultiplier == 0 &&
                        timeouts_.readTotalTimeoutConstant == 0;
    if (!atOnce) {
        widened.readIntervalTimeout = Widened(timeouts_.readIntervalTimeout, extra);
        if (timeouts_.readTotalTimeoutMultiplier != 0 || timeouts_.readTotalTimeoutConstant != 0) {
            widened.readTotalTimeoutConstant = Widened(timeouts_.readTotalTimeoutConstant, extra);
        }
    }
    if (timeouts_.writeTotalTimeoutMultiplier != 0 || timeouts_.writeTotalTimeoutConstant != 0) {
        widened.writeTotalTimeoutConstant = Widened(timeouts_.writeTotalTimeoutConstant, extra);
    }
    return widened;
}

void SerialPort::PurgeInput() {
    channel_->PurgeInput();
}

std::optional<int> SerialPort::ModemLines() {
    return channel_->ModemLines();
}

bool SerialPort::SetDtr(bool on) {
    return channel_->SetDtr(on);
}

bool SerialPort::SwitchesParity() const {
    return channel_->SwitchesParity();
}

bool SerialPort::UsesParityEmulation() const {
    return channel_->UsesParityEmulation();
}

int SerialPort::NativeHandle() const {
    return channel_->PollHandle();
}

bool SerialPort::ReadArrived(std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    done = 0;
    return channel_->ReadAvailable(buffer, count, done);
}

bool SerialPort::Read(std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    done = 0;
    if (count == 0) {
        return true;
    }
    ReadPolicy policy(EffectiveTimeouts(), count, Clock::now());
    const int handle = channel_->PollHandle();
    const std::uint32_t baudRate = channel_->Current().baudRate;
    for (;;) {
        const std::size_t before = done;
        if (!channel_->ReadAvailable(buffer, count, done)) {
            return false;
        }
        policy.Took(done, Clock::now());
        if (policy.Satisfied()) {
            return true;
        }
        if (done > before) {
            LetTheRestArrive(baudRate, count - done, policy.Until());
        }
        switch (WaitForHandle(handle, POLLIN, policy.Until())) {
            case WaitResult::kReady:
                break;
            case WaitResult::kTimedOut: {
                // One last look: bytes that came while we slept came within the interval.
                const std::size_t seen = done;
                if (!channel_->ReadAvailable(buffer, count, done)) {
                    return false;
                }
                if (done == seen) {
                    return true;
                }
                break;
            }
            case WaitResult::kFailed:
                return false;
        }
    }
}

bool SerialPort::Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    done = 0;
    const CommTimeouts timeouts = EffectiveTimeouts();
    const Deadline deadline = TotalDeadline(Clock::now(), timeouts.writeTotalTimeoutMultiplier,
                                            timeouts.writeTotalTimeoutConstant, count);
    return channel_->Write(buffer, count, done, deadline);
}

}  // namespace platform
