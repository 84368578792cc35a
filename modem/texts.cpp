#include "modem/texts.h"

#include <cstdio>

#include "platform/cp1251_literal.h"

namespace tarvex {

std::string Decimal(std::uint32_t value) {
    return std::to_string(value);
}

bool CanFormat(const LocalTime& time) {
    // The range the system's date formatting takes; a never-stamped time (all zero) fails.
    return time.year >= 1601 && time.year <= 30827 && time.month >= 1 && time.month <= 12 &&
           time.day >= 1 && time.day <= 31 && time.hour < 24 && time.minute < 60 &&
           time.second < 60;
}

std::string TimeStampLine(const LocalTime& time) {
    if (!CanFormat(time)) {
        return "\r\n";
    }
    char text[40];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u  %02u-%02u-%04u\r\n", time.hour, time.minute,
                  time.second, time.day, time.month, time.year);
    return text;
}

std::string SecondsText(std::uint32_t milliseconds) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ",%03u", milliseconds % 1000);
    return Decimal(milliseconds / 1000) + fraction;
}

std::string HourText(std::uint32_t seconds, std::uint32_t milliseconds) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ",%03u", milliseconds % 1000);
    return Decimal(seconds / 3600) + std::string(W1251("ч ")) + Decimal(seconds % 3600 / 60) +
           std::string(W1251("м ")) + Decimal(seconds % 60) + fraction + std::string(W1251("с"));
}

std::string PairText(std::uint32_t ok, std::uint32_t all) {
    std::string text = Decimal(ok) + "/" + Decimal(all);
    if (all != 0) {
        const std::uint64_t percent = std::uint64_t{ok} * 100 / all;
        text += " (" + std::to_string(percent) + " %)";
    }
    return text;
}

}  // namespace tarvex
