#include "gui/rules/current_values.h"

#include <cstdlib>
#include <string_view>

#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

constexpr int kMinExponent = -4;
constexpr int kMaxExponent = 4;
constexpr unsigned kFlowAndPowerFactor = 360;
constexpr double kTemperatureLimit = 900.0;
constexpr int kWiShift = 3;
constexpr int kWiPowerExponentShift = -6;
constexpr std::size_t kFirstValue = 13;
constexpr std::size_t kFirstErrorCode = 4;
constexpr std::size_t kSheetFieldWidth = 23;

// value = digits x 10^power, exactly; digits 0 means zero.
struct ExactNumber {
    std::uint64_t digits = 0;
    int power = 0;
};

unsigned BcdPair(std::uint8_t byte) {
    // Plain arithmetic on the nibbles, as the device's own display does; A..F count as 10..15.
    return static_cast<unsigned>(byte >> 4) * 10u + static_cast<unsigned>(byte & 0x0F);
}

ExactNumber Decode(std::span<const std::uint8_t, 4> bytes, unsigned factor, int exponentShift) {
    const int e = static_cast<int>(bytes[3]) - 128 + exponentShift;
    if (e < kMinExponent || e > kMaxExponent) {
        return {};
    }
    const std::uint64_t d =
        BcdPair(bytes[2]) * 10000ull + BcdPair(bytes[1]) * 100ull + BcdPair(bytes[0]);
    // D / 10^6 x 10^(e + 1) = D x 10^(e - 5).
    return {d * factor, e - 5};
}

// The general decimal form: fixed point from 0.00001 up, else "dE-n"; ',' separates decimals.
std::string GeneralText(ExactNumber number) {
    if (number.digits == 0) {
        return "0";
    }
    while (number.digits % 10 == 0) {
        number.digits /= 10;
        ++number.power;
    }
    const std::string digits = std::to_string(number.digits);
    const int length = static_cast<int>(digits.size());
    const int leading = length - 1 + number.power;  // power of ten of the first digit
    if (leading < -5) {
        std::string text = digits.substr(0, 1);
        if (length > 1) {
            text += ',' + digits.substr(1);
        }
        return text + "E-" + std::to_string(-leading);
    }
    if (number.power >= 0) {
        return digits + std::string(static_cast<std::size_t>(number.power), '0');
    }
    const int whole = length + number.power;
    if (whole > 0) {
        const auto split = static_cast<std::size_t>(whole);
        return digits.substr(0, split) + ',' + digits.substr(split);
    }
    return "0," + std::string(static_cast<std::size_t>(-whole), '0') + digits;
}

double ValueOf(ExactNumber number) {
    double value = static_cast<double>(number.digits);
    for (int i = number.power; i < 0; ++i) {
        value /= 10.0;
    }
    for (int i = 0; i < number.power; ++i) {
        value *= 10.0;
    }
    return value;
}

std::string MeasuredText(std::span<const std::uint8_t, 4> bytes, int kind,
                         const CurrentValuesFormat& format) {
    switch (kind) {
        case 0:
            return DeviceNumberText(bytes, kFlowAndPowerFactor) +
                   std::string(format.wiLayout ? W1251(" куб.м/ч.") : W1251(" т/ч."));
        case 1:
            return DeviceNumberText(bytes, kFlowAndPowerFactor,
                                    format.wiLayout ? kWiPowerExponentShift : 0) +
                   std::string(format.gigajoules ? W1251(" ГДж/ч.") : W1251(" ГКал/ч."));
        case 2:
            if (DeviceNumberValue(bytes) > kTemperatureLimit) {
                return "##########";
            }
            return DeviceNumberText(bytes) + std::string(W1251(" град."));
        default:
            return DeviceNumberText(bytes) + std::string(W1251(" МПа."));
    }
}

}  // namespace

std::string DeviceNumberText(std::span<const std::uint8_t, 4> bytes, unsigned factor,
                             int exponentShift) {
    return GeneralText(Decode(bytes, factor, exponentShift));
}

double DeviceNumberValue(std::span<const std::uint8_t, 4> bytes, unsigned factor,
                         int exponentShift) {
    return ValueOf(Decode(bytes, factor, exponentShift));
}

CurrentFieldTexts DecodeCurrentValues(std::span<const std::uint8_t> answer,
                                      const CurrentValuesFormat& format) {
    CurrentFieldTexts fields;
    if (answer.size() < kCurrentAnswerSize) {
        return fields;
    }
    const std::size_t pipelines = format.version == kTwoPipelineVersion ? 2 : 4;
    for (std::size_t p = 0; p < pipelines; ++p) {
        fields[16 + p] = std::to_string(answer[kFirstErrorCode + p]);
    }
    const std::size_t first = kFirstValue - (format.wiLayout ? kWiShift : 0);
    for (std::size_t k = 0; k < 4 * pipelines; ++k) {
        const std::span<const std::uint8_t, 4> bytes = answer.subspan(first + 4 * k).first<4>();
        fields[k] = MeasuredText(bytes, static_cast<int>(k % 4), format);
    }
    return fields;
}

std::string FactoryNumberText(std::span<const std::uint8_t> answer) {
    std::string text(W1251("Заводской номер: "));
    for (std::size_t i = 1; i <= 4 && i < answer.size(); ++i) {
        if (answer[i] == 0x00 || answer[i] == 0xFF) {
            break;
        }
        text.push_back(static_cast<char>(answer[i]));
    }
    return text;
}

std::string ElapsedTimeText(std::chrono::seconds elapsed) {
    const long long total = elapsed.count() < 0 ? 0 : elapsed.count();
    const long long hours = total / 3600;
    std::string text(W1251("Считываются данные. Общее время считывания: "));
    if (hours > 0) {
        text += std::to_string(hours) + std::string(W1251(" час "));
    }
    text += std::to_string(total / 60 % 60) + std::string(W1251(" мин "));
    text += std::to_string(total % 60) + std::string(W1251(" сек"));
    return text;
}

std::vector<SheetLine> CurrentValuesSheet(const std::string& date, const std::string& time,
                                          const std::string& numberText,
                                          const std::string& addressText,
                                          const CurrentFieldTexts& fields) {
    static constexpr std::string_view kRowNames[] = {
        W1251(" Расход по трубопроводу "), W1251(" Тепло по трубопроводу "),
        W1251(" Температура по трубопроводу "), W1251(" Давление по трубопроводу ")};
    std::vector<SheetLine> lines;
    lines.push_back({400, std::string(W1251("Ведомость текущих данных за ")) + date +
                              std::string(W1251(" время ")) + time});
    lines.push_back({500, numberText});
    lines.push_back({600, addressText});
    for (std::size_t i = 0; i < kCurrentFieldCount; ++i) {
        const std::string& text = fields[i];
        std::string name;
        if (i < 16) {
            name = std::string(kRowNames[i % 4]) + std::to_string(i / 4 + 1);
        } else {
            name = std::string(W1251(" Код ошибки по трубопроводу ")) + std::to_string(i - 15);
        }
        const std::size_t bar = text.size() < kSheetFieldWidth ? kSheetFieldWidth - text.size() : 0;
        lines.push_back(
            {800 + 100 * static_cast<int>(i), text + " " + std::string(bar, '_') + name});
    }
    return lines;
}

}  // namespace calvix
