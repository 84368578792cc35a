#include "emulators/hc_line.h"

#include "emulators/emulator_support.h"
#include "emulators/line_service.h"
#include "emulators/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>

namespace emulators {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

struct HcLine::State {
    std::vector<std::unique_ptr<HcDevice>> devices;
    LineOptions options;
    std::unique_ptr<LineService> line;

    mutable std::mutex statsMutex;
    LineStats stats;

    // Frame assembly, touched only by the line's thread.
    std::vector<std::uint8_t> frame;
    Clock::time_point lastArrival{};  // when the frame's last byte is complete on the wire
    Clock::time_point wireFree{};     // when the previous received byte is complete
    bool frameSilenced = false;

    // A UART takes 11 bits a byte (start, 8 data, parity, stop) at the line's rate.
    Clock::duration ByteTime() const {
        const unsigned baud = options.baud != 0 ? options.baud : ClientLineRate(line->Master());
        if (baud == 0) {
            return Clock::duration::zero();
        }
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(11ull * 1000000000ull / baud));
    }
    Clock::duration Gap() const { return std::chrono::milliseconds(options.gapTimeoutMs); }

    HcDevice* Find(std::uint8_t address) {
        for (auto& device : devices) {
            if (device->Address() == address) {
                return device.get();
            }
        }
        return nullptr;
    }

    void Trace(const std::string& text) {
        if (options.trace) {
            options.trace(text);
        }
    }

    template <typename Member>
    void Count(Member member, unsigned n = 1) {
        std::lock_guard lock(statsMutex);
        stats.*member += n;
    }

    void Run();
    void OnByte(std::uint8_t byte);
    void OnFrame();
    void DropPartial();
    bool WaitUntil(Clock::time_point deadline) const { return WaitOrStop(line->Wake(), deadline); }
    bool Send(std::span<const std::uint8_t> answer);
};

bool HcLine::State::Send(std::span<const std::uint8_t> answer) {
    Trace("tx " + Hex(answer));
    if (!WritePacedOrStop(line->Master(), line->Wake(), answer, ByteTime())) {
        if (errno != 0) {
            Trace(std::string("write failed: ") + std::strerror(errno));
        }
        return false;
    }
    Count(&LineStats::answersSent);
    Count(&LineStats::bytesSent, static_cast<unsigned>(answer.size()));
    return true;
}

void HcLine::State::DropPartial() {
    Trace("drop partial frame after a gap: " + Hex(frame));
    Count(&LineStats::partialFramesDropped);
    frame.clear();
}

void HcLine::State::OnByte(std::uint8_t byte) {
    const Clock::time_point start = std::max(Clock::now(), wireFree);
    if (!frame.empty() && start - lastArrival > Gap()) {
        DropPartial();
    }
    wireFree = start + ByteTime();
    if (frame.empty()) {
        const HcDevice* device = Find(byte);
        frameSilenced = device != nullptr && device->Silenced();
    }
    frame.push_back(byte);
    lastArrival = wireFree;
    if (frame.size() >= 3 && frame.size() == frame[2] + 5u) {
        OnFrame();
        frame.clear();
    }
}

void HcLine::State::OnFrame() {
    Trace("rx " + Hex(frame));
    HcDevice* device = Find(frame[0]);
    if (device == nullptr) {
        Trace("ignored: no device with address " + std::to_string(frame[0]) + " on this line");
        Count(&LineStats::framesForeign);
        return;
    }
    if (frameSilenced || device->Silenced()) {
        Trace("ignored: device " + std::to_string(frame[0]) + " is silent");
        Count(&LineStats::framesSilenced);
        return;
    }
    // With pacing the request is complete only when its last byte would have arrived.
    if (!WaitUntil(lastArrival)) {
        return;
    }
    const std::optional<std::vector<std::uint8_t>> answer = device->HandleFrame(frame);
    if (!answer) {
        Trace("no answer");
        if (device->LineGone()) {
            Trace("the line is gone");
            line->Hangup();
        }
        return;
    }
    const auto delay = std::chrono::milliseconds(device->Config().answerDelayMs);
    if (!WaitUntil(Clock::now() + delay)) {
        return;
    }
    Send(*answer);
}

void HcLine::State::Run() {
    std::uint8_t buffer[512];
    for (;;) {
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (!frame.empty()) {
            timeout = ToTimespec(lastArrival + Gap() - Clock::now());
            timeoutPtr = &timeout;
        }
        pollfd fds[2] = {{line->Wake(), POLLIN, 0}, {line->Master(), POLLIN, 0}};
        const int r = ppoll(fds, 2, timeoutPtr, nullptr);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            Trace(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (r == 0) {
            if (!frame.empty() && Clock::now() >= lastArrival + Gap()) {
                DropPartial();
            }
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const ssize_t n = ::read(line->Master(), buffer, sizeof buffer);
            if (n > 0) {
                Count(&LineStats::bytesReceived, static_cast<unsigned>(n));
                for (ssize_t i = 0; i < n && !line->HungUp(); ++i) {
                    OnByte(buffer[i]);
                }
                if (line->HungUp()) {
                    return;
                }
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
        }
        // Hang-up or error on the master: should not happen while we hold the slave open;
        // back off instead of spinning.
        if (!WaitUntil(Clock::now() + std::chrono::milliseconds(100))) {
            return;
        }
    }
}

HcLine::HcLine(std::vector<HcConfig> devices, LineOptions options)
    : state_(std::make_unique<State>()) {
    if (devices.empty()) {
        throw std::invalid_argument("a line needs at least one heat calculator");
    }
    std::set<std::uint8_t> addresses;
    for (const HcConfig& config : devices) {
        if (!addresses.insert(config.address).second) {
            throw std::invalid_argument("address " + std::to_string(config.address) +
                                        " is used twice on the line");
        }
        state_->devices.push_back(std::make_unique<HcDevice>(config));
    }
    state_->options = std::move(options);
    state_->line = std::make_unique<LineService>(B9600, true, state_->options.linkPath);
    state_->line->Start([state = state_.get()] { state->Run(); });
}

HcLine::~HcLine() {
    Stop();
}

const std::string& HcLine::SlavePath() const {
    return state_->line->SlavePath();
}

HcDevice& HcLine::Device(std::uint8_t address) {
    HcDevice* device = state_->Find(address);
    if (device == nullptr) {
        throw std::out_of_range("no heat calculator with address " + std::to_string(address));
    }
    return *device;
}

LineStats HcLine::Stats() const {
    std::lock_guard lock(state_->statsMutex);
    return state_->stats;
}

void HcLine::Stop() {
    state_->line->Stop();
}

}  // namespace emulators
