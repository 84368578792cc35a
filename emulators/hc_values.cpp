#include "emulators/hc_values.h"

#include <bit>
#include <cmath>
#include <ctime>
#include <numbers>

namespace emulators {

namespace {

// Base readings of each pipeline before the slow variation; seed-dependent so that devices
// with different seeds show different numbers.
struct PipelineBase {
    double flowTph;
    double temperatureC;
    double pressureMpa;
};

PipelineBase BaseOf(std::uint32_t seed, int pipeline) {
    const double f = SeedFraction(seed, 100 + static_cast<unsigned>(pipeline));
    switch (pipeline) {
        case 0:
            return {4.0 + 2.0 * f, 78.0 + 6.0 * f, 0.62 + 0.08 * f};
        case 1: {
            const PipelineBase supply = BaseOf(seed, 0);
            return {supply.flowTph * (0.97 + 0.02 * f), 52.0 + 5.0 * f, 0.40 + 0.05 * f};
        }
        case 2:
            return {1.5 + 1.5 * f, 60.0 + 3.0 * f, 0.52 + 0.06 * f};
        default:
            return {0.8 + 0.6 * f, 46.0 + 4.0 * f, 0.34 + 0.05 * f};
    }
}

// A slow sine wave in [-1, 1] with a seed-dependent phase.
double Wave(std::uint32_t seed, unsigned salt, std::int64_t t, double periodS) {
    const double phase = 2.0 * std::numbers::pi * SeedFraction(seed, salt);
    return std::sin(2.0 * std::numbers::pi * static_cast<double>(t) / periodS + phase);
}

void AppendDeviceNumber(std::vector<std::uint8_t>& out, double value) {
    const auto bytes = EncodeDeviceNumber(value);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Decodes UTF-8 and maps every code point other than ASCII through `map` ('?' when it gives 0).
std::string Utf8ToSingleByte(std::string_view text, unsigned (*map)(char32_t)) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(b0));
            ++i;
            continue;
        }
        char32_t cp = 0xFFFD;
        std::size_t length = 1;
        if ((b0 & 0xE0) == 0xC0 && i + 1 < text.size()) {
            cp = (b0 & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            length = 2;
        } else if ((b0 & 0xF0) == 0xE0 && i + 2 < text.size()) {
            cp = (b0 & 0x0Fu) << 12 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6 |
                 (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
            length = 3;
        }
        i += length;
        const unsigned byte = map(cp);
        out.push_back(static_cast<char>(byte == 0 ? '?' : byte));
    }
    return out;
}

unsigned Cp866Of(char32_t cp) {
    if (cp >= 0x0410 && cp <= 0x043F) {  // А..п
        return 0x80 + (cp - 0x0410);
    }
    if (cp >= 0x0440 && cp <= 0x044F) {  // р..я
        return 0xE0 + (cp - 0x0440);
    }
    switch (cp) {
        case 0x0401:  // Ё
            return 0xF0;
        case 0x0451:  // ё
            return 0xF1;
        case 0x2116:  // №
            return 0xFC;
        default:
            return 0;
    }
}

unsigned Cp1251Of(char32_t cp) {
    if (cp >= 0x0410 && cp <= 0x044F) {  // А..я
        return 0xC0 + (cp - 0x0410);
    }
    switch (cp) {
        case 0x0401:  // Ё
            return 0xA8;
        case 0x0451:  // ё
            return 0xB8;
        case 0x2116:  // №
            return 0xB9;
        default:
            return 0;
    }
}

}  // namespace

double HeatPower(double flowTph, double temperatureC) {
    return flowTph * 4.1868 * (temperatureC - 5.0) / 1000.0;
}

PipelineValues TypicalPipelineValues(std::uint32_t seed, int pipeline) {
    const PipelineBase base = BaseOf(seed, pipeline);
    return {base.flowTph, HeatPower(base.flowTph, base.temperatureC), base.temperatureC,
            base.pressureMpa};
}

std::uint64_t MixSeed(std::uint64_t seed, std::uint64_t salt) {
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + salt + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SeedFraction(std::uint64_t seed, std::uint64_t salt) {
    return static_cast<double>(MixSeed(seed, salt) >> 11) / 9007199254740992.0;  // 2^53
}

std::uint8_t ToBcd(unsigned value) {
    value %= 100;
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

std::array<std::uint8_t, 6> ClockBcd(std::int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {ToBcd(static_cast<unsigned>(tm.tm_sec)),
            ToBcd(static_cast<unsigned>(tm.tm_min)),
            ToBcd(static_cast<unsigned>(tm.tm_hour)),
            ToBcd(static_cast<unsigned>(tm.tm_mday)),
            ToBcd(static_cast<unsigned>(tm.tm_mon + 1)),
            ToBcd(static_cast<unsigned>(tm.tm_year % 100))};
}

std::string FactoryNumber(std::uint32_t seed) {
    unsigned number = static_cast<unsigned>(MixSeed(seed, 1) % 100000);
    std::string digits(5, '0');
    for (int i = 4; i >= 0; --i) {
        digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + number % 10);
        number /= 10;
    }
    return digits;
}

std::array<std::uint8_t, 4> EncodeDeviceNumber(double value) {
    const std::array<std::uint8_t, 4> zero{0, 0, 0, 128};
    if (!std::isfinite(value) || value <= 0) {
        return zero;
    }
    // Normalise to value = m * 10^power with m in [0.1, 1); power is e + 1.
    int power = 0;
    double m = value;
    while (m >= 1.0) {
        m /= 10.0;
        ++power;
    }
    while (m < 0.1) {
        m *= 10.0;
        --power;
    }
    long digits = std::lround(m * 1e6);
    if (digits >= 1000000) {
        digits = 100000;
        ++power;
    }
    int e = power - 1;
    if (e < -4) {
        return zero;
    }
    if (e > 4) {
        e = 4;
        digits = 999999;
    }
    const auto d = static_cast<unsigned>(digits);
    return {ToBcd(d % 100), ToBcd(d / 100 % 100), ToBcd(d / 10000),
            static_cast<std::uint8_t>(e + 128)};
}

std::array<std::uint8_t, 4> EncodeArchiveNumber(double value) {
    std::array<std::uint8_t, 4> bytes{0, 0, 0, 0};
    const double x = std::fabs(value);
    if (!std::isfinite(x) || x > 1e30 || x < 1e-30) {
        return bytes;
    }
    const double lg = std::log10(x);
    const double whole = std::floor(lg);
    int e = static_cast<int>(std::ceil(lg)) + (lg == whole ? 1 : 0);
    double m = std::pow(10.0, lg - whole);  // [1, 10)
    if (m >= 10.0) {
        ++e;
        m = 1.0;
    }
    // Digits d0..d5 from m in fixed point with 24 fraction bits; d5 only rounds.
    constexpr std::uint64_t kOne = 1u << 24;
    auto fixed = static_cast<std::uint64_t>(m * static_cast<double>(kOne));
    unsigned d[6];
    d[0] = static_cast<unsigned>(fixed >> 24);
    fixed &= kOne - 1;
    for (int i = 1; i < 6; ++i) {
        fixed *= 10;
        d[i] = static_cast<unsigned>(fixed >> 24);
        fixed &= kOne - 1;
    }
    if (d[5] >= 5) {
        int i = 4;
        ++d[i];
        while (i > 0 && d[i] == 10) {
            d[i] = 0;
            ++d[--i];
        }
        if (d[0] == 10) {
            d[0] = 1;
            ++e;
        }
    }
    bytes[0] = static_cast<std::uint8_t>(d[3] << 4 | d[4]);
    bytes[1] = static_cast<std::uint8_t>(d[1] << 4 | d[2]);
    bytes[2] = static_cast<std::uint8_t>(d[0]);
    bytes[3] = static_cast<std::uint8_t>(e + 128);
    if (value < 0) {
        const std::uint32_t magnitude = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
        const std::uint32_t complement = 0x99999Au - magnitude;
        bytes[0] = static_cast<std::uint8_t>(complement);
        bytes[1] = static_cast<std::uint8_t>(complement >> 8);
        bytes[2] = static_cast<std::uint8_t>(complement >> 16);
    }
    return bytes;
}

float FiveDigits(double value) {
    if (value == 0 || !std::isfinite(value)) {
        return 0.0f;
    }
    const int power = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    const double scale = std::pow(10.0, 4 - power);
    return static_cast<float>(std::round(value * scale) / scale);
}

std::array<PipelineValues, 4> CurrentPipelineValues(std::uint32_t seed, std::int64_t unixSeconds) {
    std::array<PipelineValues, 4> values{};
    for (int p = 0; p < 4; ++p) {
        const PipelineBase base = BaseOf(seed, p);
        const auto salt = static_cast<unsigned>(10 * p);
        // A return pipeline carries what its supply carries: the same swing of the flow.
        const unsigned flowSalt = p == 1 ? 1 : salt + 1;
        PipelineValues& v = values[static_cast<std::size_t>(p)];
        v.flowTph = base.flowTph * (1.0 + 0.08 * Wave(seed, flowSalt, unixSeconds, 900.0));
        v.temperatureC = base.temperatureC + 3.0 * Wave(seed, salt + 2, unixSeconds, 2400.0);
        v.pressureMpa = base.pressureMpa + 0.02 * Wave(seed, salt + 3, unixSeconds, 420.0);
        v.heatGjph = HeatPower(v.flowTph, v.temperatureC);
    }
    return values;
}

std::array<std::uint8_t, 4> PipelineErrorCodes(std::uint32_t seed, std::int64_t unixSeconds) {
    // Now and then, for ten minutes, a pipeline reports a small error code.
    std::array<std::uint8_t, 4> codes{};
    const auto window = static_cast<std::uint64_t>(unixSeconds / 600);
    for (unsigned p = 0; p < 4; ++p) {
        const std::uint64_t h = MixSeed(seed, 1000 + window * 4 + p);
        if (h % 32 == 0) {
            codes[p] = static_cast<std::uint8_t>(1 + (h >> 8) % 3);
        }
    }
    return codes;
}

std::vector<std::uint8_t> CurrentValuesAnswer(std::uint32_t seed, std::int64_t unixSeconds,
                                              const CurrentValuesOptions& options) {
    std::vector<std::uint8_t> answer;
    answer.reserve(kCurrentValuesAnswerSize);
    answer.push_back(1);
    answer.insert(answer.end(), 3, 0);  // R[1..3]: reserved
    const auto codes = PipelineErrorCodes(seed, unixSeconds);
    answer.insert(answer.end(), codes.begin(), codes.end());   // R[4..7]
    answer.insert(answer.end(), options.wiLayout ? 2 : 5, 0);  // reserved up to the values
    std::array<PipelineValues, 4> values = CurrentPipelineValues(seed, unixSeconds);
    if (options.pipeline1Temperature > 0) {
        values[0].temperatureC = options.pipeline1Temperature;
    }
    for (const PipelineValues& v : values) {
        AppendDeviceNumber(answer, v.flowTph / kFlowAndPowerScale);
        auto power = EncodeDeviceNumber(v.heatGjph / kFlowAndPowerScale);
        if (options.wiLayout && (power[0] | power[1] | power[2]) != 0) {
            power[3] = static_cast<std::uint8_t>(power[3] + 6);
        }
        answer.insert(answer.end(), power.begin(), power.end());
        AppendDeviceNumber(answer, v.temperatureC);
        AppendDeviceNumber(answer, v.pressureMpa);
    }
    answer.resize(kCurrentValuesAnswerSize, 0);
    return answer;
}

unsigned ArchivePageCount(ArchiveKind kind) {
    return kind == ArchiveKind::Daily ? kDailyArchivePages : kMonthlyArchivePages;
}

std::optional<std::array<std::uint8_t, kArchivePageSize>> ArchivePage(std::uint32_t seed,
                                                                      ArchiveKind kind,
                                                                      unsigned page) {
    if (page >= ArchivePageCount(kind)) {
        return std::nullopt;
    }
    const unsigned period = page / 2;
    const unsigned half = page % 2;
    const double periodHours = kind == ArchiveKind::Daily ? 24.0 : 30.0 * 24.0;
    const std::uint64_t periodSalt = (static_cast<std::uint64_t>(kind) << 32) | period << 8;

    std::vector<std::uint8_t> bytes;
    bytes.reserve(kArchivePageSize);
    for (unsigned i = 0; i < 2; ++i) {
        const unsigned pipeline = 2 * half + i;
        const PipelineBase base = BaseOf(seed, static_cast<int>(pipeline));
        auto r = [&](unsigned what) {
            return SeedFraction(seed, periodSalt | pipeline << 4 | what);
        };
        // One period in twenty had an outage of a few hours.
        double faultHours = 0;
        if (r(0) < 0.05) {
            faultHours = 1.0 + std::floor(5.0 * r(1));
        }
        const double operatingHours = periodHours - faultHours;
        const double temperature = base.temperatureC + 4.0 * (r(2) - 0.5);
        const double pressure = base.pressureMpa + 0.04 * (r(3) - 0.5);
        const double mass = base.flowTph * operatingHours * (1.0 + 0.1 * (r(4) - 0.5));
        const double heat = HeatPower(mass, temperature);  // t in place of t/h gives GJ
        for (double v : {heat, mass, temperature, pressure, operatingHours, faultHours}) {
            AppendFloatLe(bytes, static_cast<float>(v));
        }
    }
    std::array<std::uint8_t, kArchivePageSize> result{};
    std::copy(bytes.begin(), bytes.end(), result.begin());
    return result;
}

void AppendFloatLe(std::vector<std::uint8_t>& out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
}

std::string Utf8ToCp866(std::string_view text) {
    return Utf8ToSingleByte(text, Cp866Of);
}

std::string Utf8ToCp1251(std::string_view text) {
    return Utf8ToSingleByte(text, Cp1251Of);
}

}  // namespace emulators
