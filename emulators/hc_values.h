// Values a heat calculator produces: its clock in BCD, its factory number, the current readings
// of four pipelines and the archive pages. Pure functions of the seed (and the device time), so
// two emulators with the same seed and clock agree byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emulators {

// Mixes a seed and a salt into a well-spread 64-bit number (splitmix64).
std::uint64_t MixSeed(std::uint64_t seed, std::uint64_t salt);
// A number in [0, 1) drawn from the seed and the salt.
double SeedFraction(std::uint64_t seed, std::uint64_t salt);

std::uint8_t ToBcd(unsigned value);  // 0..99

// Second, minute, hour, day, month, two-digit year; UTC.
std::array<std::uint8_t, 6> ClockBcd(std::int64_t unixSeconds);

// Five ASCII digits, e.g. "04521".
std::string FactoryNumber(std::uint32_t seed);

// The device's 4-byte number: three BCD bytes of a six-digit mantissa D, least significant
// first, then e + 128; the value is D / 10^6 * 10^(e + 1) with e in -4..4.
std::array<std::uint8_t, 4> EncodeDeviceNumber(double value);

// The archive number: 0.d0d1d2d3d4 * 10^e in four bytes (d3 d4, d1 d2, d0, e + 128), five
// significant digits rounded half up, negatives complemented against 0x99999A; zero is all
// zero bytes.
std::array<std::uint8_t, 4> EncodeArchiveNumber(double value);
// `value` rounded to five significant digits, as a single: archive values are made this way so
// that any faithful conversion to the archive number gives the same digits.
float FiveDigits(double value);

// The workstation multiplies flow and heat power by this when it shows them, so the device
// keeps them in 1/360 of t/h and GJ/h.
inline constexpr double kFlowAndPowerScale = 360.0;

struct PipelineValues {
    double flowTph = 0;   // t/h
    double heatGjph = 0;  // GJ/h
    double temperatureC = 0;
    double pressureMpa = 0;
};

// Pipelines 1..4: heating supply, heating return, hot water supply, hot water circulation.
// Typical readings of a pipeline (0-based) before the slow variation; from the seed.
PipelineValues TypicalPipelineValues(std::uint32_t seed, int pipeline);
// Heat carried relative to cold water at 5 °C: GJ/h for t/h, GJ for t.
double HeatPower(double flowTph, double temperatureC);
std::array<PipelineValues, 4> CurrentPipelineValues(std::uint32_t seed, std::int64_t unixSeconds);
std::array<std::uint8_t, 4> PipelineErrorCodes(std::uint32_t seed, std::int64_t unixSeconds);

inline constexpr std::size_t kCurrentValuesAnswerSize = 77;  // status byte included
struct CurrentValuesOptions {
    // "TV540WI": the values start 3 bytes earlier and heat power carries an exponent 6 higher.
    bool wiLayout = false;
    double pipeline1Temperature = 0;  // above 0: replaces pipeline 1's temperature
};
// Answer of the current-values command, status byte 1 first.
std::vector<std::uint8_t> CurrentValuesAnswer(std::uint32_t seed, std::int64_t unixSeconds,
                                              const CurrentValuesOptions& options = {});

enum class ArchiveKind : std::uint8_t { Daily = 1, Monthly = 2 };
inline constexpr unsigned kDailyArchivePages = 124;   // 62 days, two halves each
inline constexpr unsigned kMonthlyArchivePages = 48;  // 24 months, two halves each
inline constexpr std::size_t kArchivePageSize = 48;
unsigned ArchivePageCount(ArchiveKind kind);
// Page 2n + h holds period n back from now (0 = the last closed day or month), pipelines
// 2h + 1 and 2h + 2, six little-endian floats each: heat GJ, mass t, mean temperature,
// mean pressure, operating hours, fault hours. nullopt beyond the last page.
std::optional<std::array<std::uint8_t, kArchivePageSize>> ArchivePage(std::uint32_t seed,
                                                                      ArchiveKind kind,
                                                                      unsigned page);

// Little-endian IEEE single.
void AppendFloatLe(std::vector<std::uint8_t>& out, float value);

// UTF-8 to code page 866 for ASCII, Cyrillic letters and "№"; anything else becomes '?'.
std::string Utf8ToCp866(std::string_view text);
// The same to Windows-1251.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace emulators
