// Model of one heat calculator: 64 KiB of memory, its two directories, the command mailbox and
// the faults a test can ask for. No I/O here: HcLine feeds it whole request frames.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emulators/hc_commands.h"
#include "emulators/hc_memory_map.h"

namespace emulators {

enum class FaultKind {
    BadChecksum,  // answer with a wrong last byte
    LostAnswer,   // frame is understood (writes are applied) but not answered
    Garbage,      // a few random bytes go out in front of the answer
    WrongHead,    // answer byte 0 is 0x01 instead of 0x00
    Silence,      // everything received for `durationMs` is ignored
    Truncated,    // only the first part of the answer goes out
    // The next mailbox answer stays at status 0 for `count` more polls (a busy device).
    StatusZeroStorm,
    LineGone,  // the frame is not answered and the line disappears (an unplugged adapter)
};

// Faults count only well-formed frames addressed to the device (right checksum, known
// function); frames that the device never hears (other address, silence) do not count.
struct Fault {
    FaultKind kind = FaultKind::LostAnswer;
    unsigned afterFrames = 0;  // frames addressed to the device that pass untouched first
    // Frames affected, at least 1 (Silence: ignored, it lasts durationMs; StatusZeroStorm: the
    // polls held back; LineGone: ignored).
    unsigned count = 1;
    unsigned durationMs = 0;  // Silence only
};

struct HcConfig {
    std::uint8_t address = 1;
    // Firmware personality: 45 (kParameterListVersion, the device read through "tv540wi.opr"),
    // 53 (kDays180Version, the 180-day archive), 60 (kTwoPipelineVersion, daily and monthly
    // records).
    int version = 45;
    std::uint32_t seed = 1;
    unsigned statusZeroPolls = 0;  // reads of the answer area that still show status 0
    unsigned mailboxDelayMs = 0;   // "slow mailbox": no answer before this long after a command
    unsigned answerDelayMs = 2;    // turnaround between the end of a request and the answer
    // Device clock: seconds since the epoch (UTC) at start-up, advanced by real elapsed time.
    // 0 = the host clock. The device's broken-down time is UTC.
    long long clockEpoch = 0;
    // The clock stands still at clockEpoch, so that two readings of the device give the same
    // bytes.
    bool frozenClock = false;
    // Status byte of the clock command's answer; anything but 1 comes with six zero bytes.
    std::uint8_t clockStatus = 1;
    // The clock command answers 31 April (day 31 of a 30-day month) of the device's year.
    bool clockBadDate = false;
    // Version 60 only: a field 31 next to field 30 in (101,0), (230,1) and (230,2), with
    // contents of the same kind that differ from field 30's.
    bool field31 = false;
    // The reporting day of the month (settings element 17): accounts run from it to the day
    // before it in the next month.
    std::uint8_t reportDay = 1;
    // Records in the hourly archive: the hours before the current one.
    unsigned hourlyRecords = 240;
    // Hourly, daily and monthly archives answer "no record" from the start.
    bool emptyArchives = false;
    // Days of the daily archive that answer "no record", counted back from today (0 = today).
    std::vector<unsigned> missingDays;
    // When N > 0, also every N-th day back (N, 2N, ... days ago) answers "no record".
    unsigned missingEveryNthDay = 0;
    // Commands answered with status 3 as if the firmware did not know them.
    std::vector<std::uint8_t> refusedCommands;
    // Characters of the factory number in command 53's answer; empty: five digits from the seed.
    std::string factoryNumber;
    // The first N current-values commands answer with status 0, as a device still measuring.
    unsigned currentValuesNotReady = 0;
    // Current values laid out as a "TV540WI" answers them (3 bytes earlier, heat power x 10^6).
    bool wiCurrentValues = false;
    // When above 0, pipeline 1's temperature in the current values (a broken sensor: 950).
    double pipeline1Temperature = 0;
    // Element 20 of the general settings: 0 = GJ, 1 = Gcal, anything else is not a unit.
    std::uint8_t energyUnit = 0;
};

inline constexpr int kParameterListVersion = 45;
inline constexpr int kDays180Version = 53;
inline constexpr int kTwoPipelineVersion = 60;

// Addresses of the memory map (see docs/emulators.md).
inline constexpr std::uint16_t kDeviceDirectoryRoot = 302;  // 0x012E, 5-byte field entries
inline constexpr std::uint16_t kCommandArea = 0x1000;
inline constexpr std::uint16_t kAnswerArea = 0x1080;

inline constexpr std::uint8_t kReadFunction = 0x08;
inline constexpr std::uint8_t kWriteFunction = 0x09;

struct HcStats {
    unsigned framesReceived = 0;  // complete frames addressed to this device and heard by it
    unsigned readFrames = 0;
    unsigned writeFrames = 0;
    unsigned badFrames = 0;          // wrong checksum, wrong length or unknown function
    unsigned commands = 0;           // mailbox commands started
    unsigned statusZeroAnswers = 0;  // reads of the answer area held at status 0
    unsigned silencedFrames = 0;     // frames ignored because a Silence fault ran
    unsigned faultsApplied = 0;      // frames that a fault changed (a Silence counts once)
    std::vector<std::vector<std::uint8_t>> commandLog;  // command bytes as written at 0x1000
};

class HcDevice {
  public:
    // Throws std::invalid_argument when no personality exists for config.version.
    explicit HcDevice(const HcConfig& config);

    std::uint8_t Address() const { return config_.address; }

    // One complete request frame, address byte first, checksum last. Returns the bytes to send
    // back (nullopt: no answer). Frames for another address are ignored.
    std::optional<std::vector<std::uint8_t>> HandleFrame(std::span<const std::uint8_t> frame);

    void InjectFault(const Fault& fault);
    // True while a Silence fault runs; the line ignores the device's frames then.
    bool Silenced() const;
    // A LineGone fault struck: the line must close.
    bool LineGone() const;

    std::uint8_t Peek(std::uint16_t address) const;
    // Plain memory access: writing the command area this way starts no command.
    void Poke(std::uint16_t address, std::span<const std::uint8_t> bytes);
    HcStats Stats() const;
    const HcConfig& Config() const { return config_; }

    // The device clock, seconds since the epoch (UTC).
    std::int64_t DeviceTime() const;
    // Where the directories and fields lie in memory.
    const MemoryLayout& Layout() const { return layout_; }

  private:
    using Clock = std::chrono::steady_clock;

    std::optional<FaultKind> TakeFault();
    std::vector<std::uint8_t> ApplyRead(std::uint16_t address, unsigned count);
    void ApplyWrite(std::uint16_t address, std::span<const std::uint8_t> data);
    void StartCommand(std::span<const std::uint8_t> written);
    // Makes a pending answer visible when its polls and delay are over; `poll` counts a read of
    // the answer area that found it still pending.
    void UpdateMailbox(bool poll);
    void PublishAnswer();
    void Distort(FaultKind kind, std::vector<std::uint8_t>& answer);

    HcConfig config_;
    const Personality* personality_;
    Clock::time_point startedAt_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> memory_;
    MemoryLayout layout_;
    std::deque<Fault> faults_;
    unsigned faultFramesPassed_ = 0;   // untouched frames counted for the front fault
    unsigned faultFramesApplied_ = 0;  // frames the front fault has changed so far
    Clock::time_point silentUntil_{};
    unsigned stormPolls_ = 0;  // status-0 polls that StatusZeroStorm faults added
    bool lineGone_ = false;
    std::uint64_t garbageState_;

    struct PendingAnswer {
        std::vector<std::uint8_t> bytes;
        Clock::time_point since;
        unsigned zeroPolls = 0;
    };
    std::optional<PendingAnswer> pending_;
    CommandState commandState_;
    HcStats stats_;
};

// Sum modulo 256, the checksum of every frame.
std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes);
// Request frames as a client sends them, checksum included.
std::vector<std::uint8_t> MakeReadRequest(std::uint8_t address, std::uint16_t memoryAddress,
                                          unsigned count);
std::vector<std::uint8_t> MakeWriteRequest(std::uint8_t address, std::uint16_t memoryAddress,
                                           std::span<const std::uint8_t> data);

}  // namespace emulators
