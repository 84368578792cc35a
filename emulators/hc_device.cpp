#include "emulators/hc_device.h"

#include <ctime>
#include <stdexcept>

#include "emulators/hc_commands.h"
#include "emulators/hc_values.h"

namespace emulators {

namespace {

constexpr std::size_t kMemorySize = 0x10000;
constexpr std::size_t kAnswerAreaSize = 0x80;

std::string VersionList() {
    std::string list;
    for (int v : SupportedVersions()) {
        list += (list.empty() ? "" : ", ") + std::to_string(v);
    }
    return list;
}

const Personality& PersonalityFor(int version) {
    const Personality* p = FindPersonality(version);
    if (p == nullptr) {
        throw std::invalid_argument("no heat calculator personality for version " +
                                    std::to_string(version) + " (emulated: " + VersionList() + ")");
    }
    return *p;
}

std::uint64_t NextRandom(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    return MixSeed(state, 0);
}

}  // namespace

std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> MakeReadRequest(std::uint8_t address, std::uint16_t memoryAddress,
                                          unsigned count) {
    std::vector<std::uint8_t> frame{address,
                                    kReadFunction,
                                    0x02,
                                    static_cast<std::uint8_t>(memoryAddress >> 8),
                                    static_cast<std::uint8_t>(memoryAddress & 0xFF),
                                    static_cast<std::uint8_t>(count - 1)};
    frame.push_back(FrameChecksum(frame));
    return frame;
}

std::vector<std::uint8_t> MakeWriteRequest(std::uint8_t address, std::uint16_t memoryAddress,
                                           std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame{address, kWriteFunction,
                                    static_cast<std::uint8_t>(data.size() + 1),
                                    static_cast<std::uint8_t>(memoryAddress >> 8),
                                    static_cast<std::uint8_t>(memoryAddress & 0xFF)};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(FrameChecksum(frame));
    return frame;
}

HcDevice::HcDevice(const HcConfig& config)
    : config_(config),
      personality_(&PersonalityFor(config.version)),
      startedAt_(Clock::now()),
      memory_(kMemorySize, 0),
      garbageState_(MixSeed(config.seed, 0x6761726261676500ull)) {
    layout_ = BuildMemoryImage(*personality_, config_, memory_);
}

std::int64_t HcDevice::DeviceTime() const {
    if (config_.clockEpoch == 0) {
        return static_cast<std::int64_t>(std::time(nullptr));
    }
    if (config_.frozenClock) {
        return config_.clockEpoch;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - startedAt_);
    return config_.clockEpoch + elapsed.count();
}

void HcDevice::InjectFault(const Fault& fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

bool HcDevice::Silenced() const {
    std::lock_guard lock(mutex_);
    return Clock::now() < silentUntil_;
}

bool HcDevice::LineGone() const {
    std::lock_guard lock(mutex_);
    return lineGone_;
}

std::uint8_t HcDevice::Peek(std::uint16_t address) const {
    std::lock_guard lock(mutex_);
    return memory_[address];
}

void HcDevice::Poke(std::uint16_t address, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        memory_[(address + i) & 0xFFFF] = bytes[i];
    }
}

HcStats HcDevice::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::optional<std::vector<std::uint8_t>> HcDevice::HandleFrame(
    std::span<const std::uint8_t> frame) {
    if (frame.empty() || frame[0] != config_.address) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (Clock::now() < silentUntil_) {
        ++stats_.silencedFrames;
        return std::nullopt;
    }
    ++stats_.framesReceived;

    const bool wellFormed = frame.size() >= 5 && frame.size() == frame[2] + 5u &&
                            FrameChecksum(frame.first(frame.size() - 1)) == frame.back();
    const std::uint8_t function = frame.size() > 1 ? frame[1] : 0;
    const bool known = (function == kReadFunction && frame.size() == 7) ||
                       (function == kWriteFunction && frame.size() >= 7);
    if (!wellFormed || !known) {
        ++stats_.badFrames;
        return std::nullopt;
    }

    const std::optional<FaultKind> fault = TakeFault();
    if (fault == FaultKind::Silence) {
        ++stats_.silencedFrames;
        return std::nullopt;
    }
    if (fault == FaultKind::LineGone) {
        lineGone_ = true;
        return std::nullopt;
    }

    const auto address = static_cast<std::uint16_t>(frame[3] << 8 | frame[4]);
    std::vector<std::uint8_t> answer;
    if (function == kReadFunction) {
        ++stats_.readFrames;
        answer = ApplyRead(address, frame[5] + 1u);
    } else {
        ++stats_.writeFrames;
        ApplyWrite(address, frame.subspan(5, frame.size() - 6));
        answer = {0x00, 0x50, 0x50};
    }
    if (fault) {
        if (*fault == FaultKind::LostAnswer) {
            return std::nullopt;
        }
        Distort(*fault, answer);
    }
    return answer;
}

std::optional<FaultKind> HcDevice::TakeFault() {
    if (faults_.empty()) {
        return std::nullopt;
    }
    const Fault& fault = faults_.front();
    if (faultFramesPassed_ < fault.afterFrames) {
        ++faultFramesPassed_;
        return std::nullopt;
    }
    const FaultKind kind = fault.kind;
    ++stats_.faultsApplied;
    ++faultFramesApplied_;
    if (kind == FaultKind::Silence) {
        silentUntil_ = Clock::now() + std::chrono::milliseconds(fault.durationMs);
    }
    if (kind == FaultKind::StatusZeroStorm) {
        stormPolls_ += fault.count;
    }
    const bool once = kind == FaultKind::Silence || kind == FaultKind::StatusZeroStorm ||
                      kind == FaultKind::LineGone;
    if (once || faultFramesApplied_ >= std::max(1u, fault.count)) {
        faults_.pop_front();
        faultFramesPassed_ = 0;
        faultFramesApplied_ = 0;
    }
    return kind;
}

void HcDevice::Distort(FaultKind kind, std::vector<std::uint8_t>& answer) {
    switch (kind) {
        case FaultKind::BadChecksum:
            answer.back() = static_cast<std::uint8_t>(answer.back() + 1);
            break;
        case FaultKind::WrongHead:
            answer[0] = 0x01;
            // Read answers keep a right checksum so only the head is wrong; an acknowledgement
            // has no checksum.
            if (answer.size() > 3) {
                answer.back() = FrameChecksum(std::span(answer).first(answer.size() - 1));
            }
            break;
        case FaultKind::Garbage: {
            const auto count = static_cast<std::size_t>(3 + NextRandom(garbageState_) % 6);
            std::vector<std::uint8_t> garbage;
            for (std::size_t i = 0; i < count; ++i) {
                garbage.push_back(static_cast<std::uint8_t>(NextRandom(garbageState_)));
            }
            answer.insert(answer.begin(), garbage.begin(), garbage.end());
            break;
        }
        case FaultKind::Truncated:
            answer.resize(1 + NextRandom(garbageState_) % (answer.size() - 1));
            break;
        case FaultKind::LostAnswer:
        case FaultKind::Silence:
        case FaultKind::StatusZeroStorm:
        case FaultKind::LineGone:
            break;
    }
}

std::vector<std::uint8_t> HcDevice::ApplyRead(std::uint16_t address, unsigned count) {
    const unsigned offsetOfAnswerArea = static_cast<std::uint16_t>(kAnswerArea - address);
    if (offsetOfAnswerArea < count) {
        UpdateMailbox(true);
    }
    std::vector<std::uint8_t> answer{0x00, 0x00, static_cast<std::uint8_t>(count - 1)};
    for (unsigned i = 0; i < count; ++i) {
        answer.push_back(memory_[(address + i) & 0xFFFF]);
    }
    answer.push_back(FrameChecksum(answer));
    return answer;
}

void HcDevice::ApplyWrite(std::uint16_t address, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        memory_[(address + i) & 0xFFFF] = data[i];
    }
    if (address == kCommandArea) {
        StartCommand(data);
    }
}

void HcDevice::StartCommand(std::span<const std::uint8_t> written) {
    ++stats_.commands;
    stats_.commandLog.emplace_back(written.begin(), written.end());
    const CommandContext context{config_, *personality_, DeviceTime(), written.subspan(1),
                                 commandState_};
    std::vector<std::uint8_t> answer = ExecuteDeviceCommand(memory_[kCommandArea], context);
    answer.resize(std::min(answer.size(), kAnswerAreaSize));
    pending_ = PendingAnswer{std::move(answer), Clock::now(), 0};
    memory_[kAnswerArea] = kStatusNoAnswer;
    UpdateMailbox(false);
}

void HcDevice::UpdateMailbox(bool poll) {
    if (!pending_) {
        return;
    }
    const bool pollsDone = pending_->zeroPolls >= config_.statusZeroPolls + stormPolls_;
    const bool delayDone =
        Clock::now() - pending_->since >= std::chrono::milliseconds(config_.mailboxDelayMs);
    if (pollsDone && delayDone) {
        PublishAnswer();
    } else if (poll) {
        ++pending_->zeroPolls;
        ++stats_.statusZeroAnswers;
        memory_[kAnswerArea] = kStatusNoAnswer;
    }
}

void HcDevice::PublishAnswer() {
    for (std::size_t i = 0; i < pending_->bytes.size(); ++i) {
        memory_[kAnswerArea + i] = pending_->bytes[i];
    }
    pending_.reset();
    stormPolls_ = 0;
}

}  // namespace emulators
