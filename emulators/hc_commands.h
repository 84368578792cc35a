// The mailbox commands: one table from command code to the function that makes its answer.
// A personality lists the codes its firmware knows; other codes get "wrong answer".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace emulators {

struct HcConfig;
struct Personality;

inline constexpr std::uint8_t kCommandClock = 4;
inline constexpr std::uint8_t kCommandCurrentValues = 11;
inline constexpr std::uint8_t kCommandArchivePage = 40;
inline constexpr std::uint8_t kCommandIdentity = 53;
inline constexpr std::uint8_t kCommandHourFirst = 16;  // newest hourly record
inline constexpr std::uint8_t kCommandHourNext = 15;   // the next older one
inline constexpr std::uint8_t kCommandHourAt = 12;     // year, month, day, hour
inline constexpr std::uint8_t kCommandDay = 34;        // year, month, day, 0
inline constexpr std::uint8_t kCommandMonth = 35;      // year, month, 1, 0

inline constexpr std::uint8_t kStatusNoAnswer = 0;
inline constexpr std::uint8_t kStatusAnswer = 1;
inline constexpr std::uint8_t kStatusNoRecord = 2;
inline constexpr std::uint8_t kStatusWrong = 3;

// What a device keeps between commands.
struct CommandState {
    // Hours since the epoch of the hourly record the archive is positioned at; none before the
    // first 16 or 12.
    std::optional<std::int64_t> hourPosition;
    unsigned currentValuesCommands = 0;  // current-values commands run so far
};

struct CommandContext {
    const HcConfig& config;
    const Personality& personality;
    std::int64_t deviceTime;               // seconds since the epoch, UTC
    std::span<const std::uint8_t> params;  // the bytes written after the command code
    CommandState& state;
};

// The answer area's new contents, status byte first (at most 128 bytes).
std::vector<std::uint8_t> ExecuteDeviceCommand(std::uint8_t code, const CommandContext& context);

}  // namespace emulators
