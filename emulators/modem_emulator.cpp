#include "emulators/modem_emulator.h"
#include "emulators/modem_emulator_state.h"
#include "platform/read_policy.h"

#include "emulators/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace emulators {

namespace {

using modem_internal::Clock;
using modem_internal::Mode;
using modem_internal::Request;

constexpr std::chrono::milliseconds kDtrSample{10};

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a,
                                          std::optional<Clock::time_point> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

bool Due(const std::optional<Clock::time_point>& at) {
    return at && Clock::now() >= *at;
}

// The number as the modem's directory knows it: dial modifiers (tone, pulse, waits, pauses,
// flash) and blanks dropped.
std::string NormaliseNumber(const std::string& dial) {
    std::string number;
    for (char c : dial) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (std::string_view("TPW,@! -();").find(upper) == std::string_view::npos) {
            number += upper;
        }
    }
    return number;
}

}  // namespace

void ModemEmulator::State::Open() {
    PseudoTerminalEnds ends = OpenPseudoTerminal(B115200, false);
    master = ends.master;
    slave = ends.slave;
    slavePath = ends.slavePath;
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ThrowErrno("eventfd");
    }
    ApplyProfile();
}

void ModemEmulator::State::MakeLink() {
    emulators::MakeLink(options.linkPath, slavePath);
    linkMade = true;
}

void ModemEmulator::State::RemoveLink() {
    if (!linkMade) {
        return;
    }
    linkMade = false;
    emulators::RemoveLink(options.linkPath, slavePath);
}

// What the modem sends reaches the client byte by byte at the port rate (ten bits a byte), as
// its UART sends it.
void ModemEmulator::State::Write(const std::uint8_t* bytes, std::size_t count) {
    const unsigned rate = DteRate();
    const auto perByte = std::chrono::nanoseconds(rate > 0 ? 10'000'000'000LL / rate : 0);
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(2);
    Clock::time_point next = Clock::now();
    while (count > 0 && master >= 0) {
        if (perByte.count() > 0) {
            std::this_thread::sleep_until(next);
            next = std::max(next, Clock::now() - perByte) + perByte;
        }
        const ssize_t n = ::write(master, bytes, perByte.count() > 0 ? 1 : count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return;
        }
        // The client does not read: wait a little for room, then drop the rest.
        pollfd entry{master, POLLOUT, 0};
        if (::poll(&entry, 1, platform::PollTimeoutMs(giveUp)) <= 0) {
            Trace("output dropped: the client does not read");
            return;
        }
    }
}

void ModemEmulator::State::SendText(const std::string& text) {
    Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void ModemEmulator::State::SendResult(int numeric, const std::string& text) {
    if (quiet || applyingProfile) {
        return;
    }
    Trace("tx " + text);
    if (verbose) {
        SendText("\r\n" + text + "\r\n");
    } else {
        SendText(std::to_string(numeric) + "\r");
    }
}

void ModemEmulator::State::SendToPeer(const std::uint8_t* bytes, std::size_t count) {
    {
        std::lock_guard lock(mutex);
        stats.toPeer.insert(stats.toPeer.end(), bytes, bytes + count);
    }
    if (echoPeer) {
        Write(bytes, count);
        return;
    }
    if (peer < 0) {
        return;
    }
    while (count > 0) {
        const ssize_t n = ::write(peer, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd entry{peer, POLLOUT, 0};
            if (::poll(&entry, 1, 1000) <= 0) {
                return;
            }
        } else {
            return;
        }
    }
}

void ModemEmulator::State::GoOnline(const std::string& peerName, unsigned rate) {
    const std::string name = peerName.empty() ? options.defaultPeer : peerName;
    echoPeer = name == kEchoPeer;
    if (!echoPeer) {
        peer = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (peer < 0) {
            Trace("cannot open the peer " + name + ": " + std::strerror(errno));
            mode = Mode::Command;
            SendResult(3, "NO CARRIER");
            return;
        }
        termios tio{};
        if (tcgetattr(peer, &tio) == 0) {
            cfmakeraw(&tio);
            tio.c_cflag |= CLOCAL | CREAD;
            tcsetattr(peer, TCSANOW, &tio);
        }
    }
    connectedRate = rate;
    mode = Mode::Online;
    lastDteByte = Clock::now();
    plusCount = 0;
    escapeAt.reset();
    {
        std::lock_guard lock(mutex);
        ++stats.connects;
    }
    SetOnline(true);
    ReportConnect(rate);
}

void ModemEmulator::State::SetOnline(bool online) {
    std::lock_guard lock(mutex);
    stats.online = online;
}

// W0: the port rate only; W1: carrier, protocol, then the port rate; W2: the carrier rate.
void ModemEmulator::State::ReportConnect(unsigned rate) {
    const std::string dte = std::to_string(DteRate());
    if (reportMode == 0) {
        SendResult(1, "CONNECT " + dte);
    } else if (reportMode == 1) {
        if (verbose && !quiet) {
            Trace("tx CARRIER " + std::to_string(rate));
            SendText("\r\nCARRIER " + std::to_string(rate) + "\r\n");
            SendText("\r\nPROTOCOL: LAP-M\r\n");
        }
        SendResult(1, "CONNECT " + dte);
    } else {
        SendResult(1, "CONNECT " + std::to_string(rate));
    }
}

void ModemEmulator::State::EndCall() {
    CloseFd(peer);
    echoPeer = false;
    escapeAt.reset();
    plusCount = 0;
    mode = Mode::Command;
    SetOnline(false);
}

void ModemEmulator::State::Dial(const std::string& dial) {
    const std::string number = NormaliseNumber(dial);
    {
        std::lock_guard lock(mutex);
        stats.dialled.push_back(number);
    }
    if (number.empty()) {
        SendResult(4, "ERROR");
        return;
    }
    const auto found = options.numbers.find(number);
    dialPlan = found != options.numbers.end() ? found->second : options.otherNumbers;
    mode = Mode::Dialing;
    if (dialPlan.outcome == DialOutcome::Silence) {
        resultAt.reset();
    } else {
        resultAt = Clock::now() + std::chrono::milliseconds(dialPlan.delayMs);
    }
    Trace("dial " + number);
}

void ModemEmulator::State::Answer() {
    if (!nextRingAt && !ringingEndsAt) {
        SendResult(3, "NO CARRIER");
        return;
    }
    {
        std::lock_guard lock(mutex);
        stats.ringsBeforeAnswer.push_back(ringsThisCall);
    }
    answerPeer = ringPeer;
    ringsLeft = 0;
    nextRingAt.reset();
    ringingEndsAt.reset();
    mode = Mode::Answering;
    resultAt = Clock::now() + std::chrono::milliseconds(options.answerDelayMs);
}

void ModemEmulator::State::OnDataByte(std::uint8_t byte) {
    const Clock::time_point now = Clock::now();
    // S2 above 127 disables the escape: every byte is data.
    const bool escapeChar = registers[2] <= 127 && byte == registers[2];
    const bool quietBefore = now - lastDteByte >= Guard();
    lastDteByte = now;
    if (escapeAt) {
        // A byte within the guard time after "+++": no escape; the pluses were data.
        escapeAt.reset();
        const std::uint8_t pluses[3] = {'+', '+', '+'};
        SendToPeer(pluses, plusCount);
        plusCount = 0;
    }
    if (escapeChar && ((plusCount == 0 && quietBefore) || (plusCount > 0 && !quietBefore))) {
        if (++plusCount == 3) {
            escapeAt = now + Guard();
        }
        return;
    }
    if (plusCount > 0) {
        const std::uint8_t pluses[3] = {'+', '+', '+'};
        SendToPeer(pluses, plusCount);
        plusCount = 0;
        if (escapeChar && quietBefore) {
            plusCount = 1;
            return;
        }
    }
    SendToPeer(&byte, 1);
}

void ModemEmulator::State::OnDteBytes(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        // Resetting, or DTR off with &D2/&D3: the modem does not listen.
        if (resetDoneAt || (!dtrOn && dtrMode >= 2)) {
            return;
        }
        switch (mode) {
            case Mode::Command:
            case Mode::OnlineCommand:
                OnCommandByte(bytes[i]);
                break;
            case Mode::Dialing:
            case Mode::Answering:
                // Any character cuts a dial or an answer short.
                resultAt.reset();
                mode = Mode::Command;
                Trace("dial or answer aborted by the client");
                SendResult(3, "NO CARRIER");
                break;
            case Mode::Online:
                OnDataByte(bytes[i]);
                break;
            case Mode::Off:
                return;
        }
    }
}

void ModemEmulator::State::OnPeerBytes() {
    std::uint8_t buffer[512];
    const ssize_t n = ::read(peer, buffer, sizeof buffer);
    if (n > 0) {
        if (mode == Mode::Online) {
            Write(buffer, static_cast<std::size_t>(n));
        }
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    // The far end went away.
    Trace("peer closed");
    EndCall();
    {
        std::lock_guard lock(mutex);
        ++stats.farEndHangUps;
    }
    SendResult(3, "NO CARRIER");
}

void ModemEmulator::State::SwitchOffNow() {
    Trace("switched off");
    CloseFd(peer);
    CloseFd(master);
    CloseFd(slave);
    mode = Mode::Off;
    resultAt.reset();
    resetDoneAt.reset();
    nextRingAt.reset();
    ringingEndsAt.reset();
    escapeAt.reset();
    std::lock_guard lock(mutex);
    stats.switchedOff = true;
    stats.online = false;
}

void ModemEmulator::State::TakeRequests() {
    std::deque<Request> taken;
    {
        std::lock_guard lock(mutex);
        taken.swap(requests);
    }
    for (const Request& request : taken) {
        switch (request.kind) {
            case Request::Kind::Ring:
                if (mode != Mode::Command || request.count == 0) {
                    break;
                }
                ringsLeft = request.count;
                ringPeriodMs = request.periodMs;
                ringPeer = request.peer;
                ringsThisCall = 0;
                nextRingAt = Clock::now();
                ringingEndsAt.reset();
                break;
            case Request::Kind::HangUp:
                if (mode == Mode::Online || mode == Mode::OnlineCommand) {
                    Trace("far end hangs up");
                    EndCall();
                    {
                        std::lock_guard lock(mutex);
                        ++stats.farEndHangUps;
                    }
                    SendResult(3, "NO CARRIER");
                }
                break;
            case Request::Kind::SwitchOff:
                if (mode != Mode::Off) {
                    SwitchOffNow();
                }
                break;
        }
    }
}

void ModemEmulator::State::OnTimers() {
    if (Due(resetDoneAt)) {
        resetDoneAt.reset();
        SendResult(0, "OK");
    }
    if (Due(resultAt)) {
        resultAt.reset();
        if (mode == Mode::Answering) {
            GoOnline(answerPeer, options.answerRate);
        } else if (mode == Mode::Dialing) {
            mode = Mode::Command;
            switch (dialPlan.outcome) {
                case DialOutcome::Connect:
                    GoOnline(dialPlan.peer, dialPlan.rate);
                    break;
                case DialOutcome::Busy:
                    SendResult(7, "BUSY");
                    break;
                case DialOutcome::NoAnswer:
                    SendResult(8, "NO ANSWER");
                    break;
                case DialOutcome::NoCarrier:
                    SendResult(3, "NO CARRIER");
                    break;
                case DialOutcome::NoDialTone:
                    SendResult(6, "NO DIALTONE");
                    break;
                case DialOutcome::Error:
                    SendResult(4, "ERROR");
                    break;
                case DialOutcome::Silence:
                    break;
            }
        }
    }
    if (Due(nextRingAt)) {
        if (mode == Mode::Command && ringsLeft > 0) {
            --ringsLeft;
            ++ringsThisCall;
            {
                std::lock_guard lock(mutex);
                ++stats.ringsSent;
            }
            Trace("ring " + std::to_string(ringsThisCall));
            SendResult(2, "RING");
            const Clock::time_point next = Clock::now() + std::chrono::milliseconds(ringPeriodMs);
            if (ringsLeft > 0) {
                nextRingAt = next;
            } else {
                nextRingAt.reset();
                ringingEndsAt = next;  // ATA is still taken until the next ring would be due
            }
        } else {
            nextRingAt.reset();
        }
    }
    if (Due(ringingEndsAt)) {
        ringingEndsAt.reset();
    }
    if (Due(escapeAt)) {
        escapeAt.reset();
        plusCount = 0;
        mode = Mode::OnlineCommand;
        {
            std::lock_guard lock(mutex);
            ++stats.escapes;
        }
        SendResult(0, "OK");
    }
}

void ModemEmulator::State::Run() {
    std::uint8_t buffer[512];
    for (;;) {
        // DTR is looked at every few milliseconds, as a modem samples its pin.
        std::optional<Clock::time_point> deadline =
            Earliest(Earliest(Earliest(resultAt, nextRingAt), Earliest(ringingEndsAt, escapeAt)),
                     Earliest(resetDoneAt, Clock::now() + kDtrSample));
        pollfd fds[3] = {{wake, POLLIN, 0}, {master, POLLIN, 0}, {peer, POLLIN, 0}};
        nfds_t count = 1;
        if (master >= 0) {
            count = 2;
            if (peer >= 0) {
                count = 3;
            }
        }
        const int ready = ::poll(fds, count, platform::PollTimeoutMs(deadline));
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (ready > 0 && fds[0].revents != 0) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t got = ::read(wake, &value, sizeof value);
            if (stopping.load()) {
                return;
            }
        }
        TakeRequests();
        WatchDtr();
        if (ready > 0 && count >= 2 && master >= 0 && fds[1].revents != 0) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                OnDteBytes(buffer, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EIO) {
                // No client has the line open (we keep the slave, so this is rare): rest a
                // moment instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        if (ready > 0 && count == 3 && peer >= 0 && fds[2].revents != 0) {
            OnPeerBytes();
        }
        OnTimers();
    }
}

ModemEmulator::ModemEmulator(ModemOptions options) : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
    state_->fault = state_->options.fault;
    state_->Open();
    if (!state_->options.linkPath.empty()) {
        state_->MakeLink();
    }
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

ModemEmulator::~ModemEmulator() {
    Stop();
}

const std::string& ModemEmulator::SlavePath() const {
    return state_->slavePath;
}

namespace {

void Wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

}  // namespace

void ModemEmulator::Ring(unsigned count, unsigned periodMs, std::string peer) {
    {
        std::lock_guard lock(state_->mutex);
        state_->requests.push_back({Request::Kind::Ring, count, periodMs, std::move(peer)});
    }
    Wake(state_->wake);
}

void ModemEmulator::HangUpFarEnd() {
    {
        std::lock_guard lock(state_->mutex);
        state_->requests.push_back({Request::Kind::HangUp, 0, 0, {}});
    }
    Wake(state_->wake);
}

void ModemEmulator::SwitchOff() {
    {
        std::lock_guard lock(state_->mutex);
        state_->requests.push_back({Request::Kind::SwitchOff, 0, 0, {}});
    }
    Wake(state_->wake);
}

void ModemEmulator::SetFault(CommandFault fault) {
    std::lock_guard lock(state_->mutex);
    state_->fault = fault;
}

ModemStats ModemEmulator::Stats() const {
    std::lock_guard lock(state_->mutex);
    return state_->stats;
}

bool ModemEmulator::CarrierDetect() const {
    std::lock_guard lock(state_->mutex);
    return state_->carrierMode.load() == 0 || state_->stats.online;
}

void ModemEmulator::Stop() {
    std::lock_guard lock(state_->stopMutex);
    if (state_->stopped) {
        return;
    }
    state_->stopped = true;
    state_->stopping.store(true);
    Wake(state_->wake);
    if (state_->thread.joinable()) {
        state_->thread.join();
    }
    state_->RemoveLink();
    CloseFd(state_->peer);
    CloseFd(state_->master);
    CloseFd(state_->slave);
    CloseFd(state_->wake);
}

}  // namespace emulators
