#include "emulators/upd_line.h"

#include "emulators/emulator_support.h"
#include "emulators/hc_upd_dump.h"
#include "emulators/line_service.h"
#include "emulators/pseudo_terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <stdexcept>
#include <thread>

namespace emulators {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kNameSize = 16;
constexpr std::size_t kCommandSize = 5;
constexpr std::size_t kShortReply = 10;
constexpr auto kAnswerDelay = std::chrono::milliseconds(2);
constexpr std::uint8_t kAcknowledgement[] = {0x00, 0x50, 0x50};

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<std::uint8_t>(sum);
}

// `01 letter number`, 16 payload bytes, the sum of the 19 before it.
std::vector<std::uint8_t> Reply(char letter, unsigned number, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> reply = {0x01, static_cast<std::uint8_t>(letter),
                                       static_cast<std::uint8_t>(number & 0xFF)};
    reply.insert(reply.end(), data.begin(), data.end());
    reply.resize(3 + kNameSize, 0);
    reply.push_back(Sum(reply));
    return reply;
}

bool Is(const std::optional<unsigned>& fault, unsigned number) {
    return fault && *fault == number;
}

}  // namespace

struct UpdLine::State {
    std::vector<UpdArchive> archives;
    UpdFaults faults;
    UpdLineOptions options;
    std::unique_ptr<LineService> line;

    mutable std::mutex statsMutex;
    UpdStats stats;

    // Device state, touched only by the line's thread.
    std::size_t entriesGiven = 0;        // catalog entries handed out since the open
    std::optional<std::size_t> current;  // index of the current archive
    std::size_t blocksGiven = 0;         // of the current archive
    bool fallenSilent = false;

    // Command assembly.
    std::vector<std::uint8_t> command;
    Clock::time_point lastArrival{};
    Clock::time_point wireFree{};
    bool discardingStray = false;

    // Start, 8 data bits, parity and two stop bits.
    Clock::duration ByteTime() const {
        const unsigned baud = options.baud != 0 ? options.baud : ClientLineRate(line->Master());
        if (baud == 0) {
            return Clock::duration::zero();
        }
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(12ull * 1000000000ull / baud));
    }
    Clock::duration Gap() const { return std::chrono::milliseconds(options.gapTimeoutMs); }

    void Trace(const std::string& text) const {
        if (options.trace) {
            options.trace(text);
        }
    }

    void Count(unsigned UpdStats::*member) {
        std::lock_guard lock(statsMutex);
        ++(stats.*member);
    }

    void Run();
    bool ReadMaster();
    void OnByte(std::uint8_t byte);
    void Discard(const std::string& why);
    void OnCommand(char letter);
    void OnOpen();
    void OnNextEntry();
    void OnNextBlock();
    bool WaitUntil(Clock::time_point deadline) const { return WaitOrStop(line->Wake(), deadline); }
    void Send(std::span<const std::uint8_t> answer);
};

void UpdLine::State::Send(std::span<const std::uint8_t> answer) {
    // With pacing the command is complete only when its last byte would have arrived.
    if (!WaitUntil(std::max(lastArrival, Clock::now()) + kAnswerDelay)) {
        return;
    }
    Trace("tx " + Hex(answer));
    if (!WritePacedOrStop(line->Master(), line->Wake(), answer, ByteTime()) && errno != 0) {
        Trace(std::string("write failed: ") + std::strerror(errno));
    }
}

void UpdLine::State::Discard(const std::string& why) {
    Trace("drop " + Hex(command) + ": " + why);
    Count(&UpdStats::commandsDiscarded);
    command.clear();
}

void UpdLine::State::OnByte(std::uint8_t byte) {
    const Clock::time_point start = std::max(Clock::now(), wireFree);
    if (!command.empty() && start - lastArrival > Gap()) {
        Discard("broken by a pause");
    }
    wireFree = start + ByteTime();
    lastArrival = wireFree;
    if (command.empty() && byte != 0x03) {
        // Stray bytes between commands: one discard for the run of them.
        if (!discardingStray) {
            Trace("drop stray bytes from " + Hex(std::span(&byte, 1)));
            Count(&UpdStats::commandsDiscarded);
            discardingStray = true;
        }
        return;
    }
    discardingStray = false;
    command.push_back(byte);
    const std::size_t at = command.size() - 1;
    if ((at == 1 && byte != 0x01) || (at == 2 && byte != 0x00)) {
        Discard("not a command");
        if (byte == 0x03) {
            command.push_back(byte);  // it may start the next one
        }
        return;
    }
    if (command.size() < kCommandSize) {
        return;
    }
    const std::span<const std::uint8_t> whole(command);
    if (Sum(whole.first(4)) != command[4]) {
        Discard("wrong checksum");
        return;
    }
    Trace("rx " + Hex(whole));
    Count(&UpdStats::requests);
    const char letter = static_cast<char>(command[3]);
    command.clear();
    OnCommand(letter);
}

void UpdLine::State::OnCommand(char letter) {
    if (letter != 'j' && letter != 'e' && letter != 'g') {
        Trace("ignored: unknown command letter");
        Count(&UpdStats::commandsDiscarded);
        return;
    }
    if (faults.silent || fallenSilent) {
        Trace("no answer: the device is silent");
        return;
    }
    if (letter == 'j') {
        OnOpen();
    } else if (letter == 'e') {
        OnNextEntry();
    } else {
        OnNextBlock();
    }
}

void UpdLine::State::OnOpen() {
    entriesGiven = 0;
    current = archives.empty() ? std::nullopt : std::optional<std::size_t>(0);
    blocksGiven = 0;
    Count(&UpdStats::opens);
    if (faults.noAcknowledgement) {
        Trace("no answer: the open command is not acknowledged");
        return;
    }
    Send(kAcknowledgement);
}

void UpdLine::State::OnNextEntry() {
    if (entriesGiven >= archives.size()) {
        Count(&UpdStats::endOfListSent);
        Send(kAcknowledgement);
        return;
    }
    const UpdArchive& archive = archives[entriesGiven];
    current = entriesGiven++;
    blocksGiven = 0;
    const auto* name = reinterpret_cast<const std::uint8_t*>(archive.name.data());
    std::vector<std::uint8_t> reply =
        Reply('E', static_cast<unsigned>(entriesGiven), std::span(name, archive.name.size()));
    if (Is(faults.badEntry, static_cast<unsigned>(entriesGiven))) {
        ++reply.back();
    }
    Count(&UpdStats::entriesSent);
    Send(reply);
}

void UpdLine::State::OnNextBlock() {
    const auto number = static_cast<unsigned>(blocksGiven + 1);
    if (faults.silentFromBlock && number >= *faults.silentFromBlock) {
        fallenSilent = true;
        Trace("no answer from block " + std::to_string(number) + " on");
        return;
    }
    if (Is(faults.lineGoneAtBlock, number)) {
        Trace("the line is gone at block " + std::to_string(number));
        line->Hangup();
        return;
    }
    const std::vector<std::uint8_t>* bytes = current ? &archives[*current].bytes : nullptr;
    if (bytes == nullptr || blocksGiven * kNameSize >= bytes->size()) {
        Send(kAcknowledgement);
        return;
    }
    const std::size_t offset = blocksGiven * kNameSize;
    const std::size_t size = std::min(kNameSize, bytes->size() - offset);
    ++blocksGiven;
    std::vector<std::uint8_t> reply = Reply('G', number, std::span(*bytes).subspan(offset, size));
    if (Is(faults.badBlock, number)) {
        ++reply.back();
    }
    if (Is(faults.shortBlock, number)) {
        reply.resize(kShortReply);
    }
    if (Is(faults.garbageBeforeBlock, number)) {
        const std::uint8_t stray[] = {0x00, 0xFF, 'G', 0x13};
        reply.insert(reply.begin(), std::begin(stray), std::end(stray));
    }
    Count(&UpdStats::blocksSent);
    Send(reply);
}

bool UpdLine::State::ReadMaster() {
    std::uint8_t buffer[256];
    const ssize_t n = ::read(line->Master(), buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    for (ssize_t i = 0; i < n && !line->HungUp(); ++i) {
        OnByte(buffer[i]);
    }
    return true;
}

void UpdLine::State::Run() {
    for (;;) {
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (!command.empty()) {
            timeout = ToTimespec(lastArrival + Gap() - Clock::now());
            timeoutPtr = &timeout;
        }
        pollfd fds[2] = {{line->Wake(), POLLIN, 0}, {line->Master(), POLLIN, 0}};
        const int r = ppoll(fds, 2, timeoutPtr, nullptr);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 || fds[0].revents != 0) {
            return;
        }
        if (r == 0) {
            if (!command.empty() && Clock::now() >= lastArrival + Gap()) {
                Discard("broken by a pause");
            }
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0 && ReadMaster()) {
            if (line->HungUp()) {
                return;
            }
            continue;
        }
        // Hang-up or error on the master: should not happen while we hold the slave open;
        // back off instead of spinning.
        if (!WaitUntil(Clock::now() + std::chrono::milliseconds(100))) {
            return;
        }
    }
}

UpdLine::UpdLine(std::vector<UpdArchive> archives, UpdFaults faults, UpdLineOptions options)
    : state_(std::make_unique<State>()) {
    for (UpdArchive& archive : archives) {
        if (archive.name.size() > kNameSize) {
            throw std::invalid_argument("archive name \"" + archive.name +
                                        "\" is longer than 16 bytes");
        }
        // The device hands over whole blocks.
        archive.bytes.resize((archive.bytes.size() + kNameSize - 1) / kNameSize * kNameSize, 0);
    }
    state_->archives = std::move(archives);
    state_->faults = faults;
    state_->options = std::move(options);
    state_->line = std::make_unique<LineService>(B9600, true, state_->options.linkPath);
    state_->line->Start([state = state_.get()] { state->Run(); });
}

UpdLine::~UpdLine() {
    Stop();
}

const std::string& UpdLine::SlavePath() const {
    return state_->line->SlavePath();
}

UpdStats UpdLine::Stats() const {
    std::lock_guard lock(state_->statsMutex);
    return state_->stats;
}

void UpdLine::Stop() {
    state_->line->Stop();
}

UpdArchive MakeUpdArchive(std::string name, const HcConfig& device) {
    UpdDumpOptions options;
    options.padding = DumpPadding::Zero;
    return UpdArchive{std::move(name), MakeUpdDump(HcDevice(device), options)};
}

}  // namespace emulators
