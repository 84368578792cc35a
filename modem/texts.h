// The number, time and duration forms of the history file and the statistics texts.
#pragma once

#include <cstdint>
#include <string>

#include "modem/modem_state.h"

namespace tarvex {

std::string Decimal(std::uint32_t value);
// "HH:mm:ss  dd-MM-yyyy" and CR LF; just CR LF when the time cannot be formatted (never set).
std::string TimeStampLine(const LocalTime& time);
bool CanFormat(const LocalTime& time);
// A duration as seconds, a comma and three digits of milliseconds: "12,345".
std::string SecondsText(std::uint32_t milliseconds);
// The hour form: "1ч 5м 12,345с".
std::string HourText(std::uint32_t seconds, std::uint32_t milliseconds);
// "4/5 (80 %)", or "0/0" when there was no operation.
std::string PairText(std::uint32_t ok, std::uint32_t all);
inline std::string PairText(const OperationCount& count) {
    return PairText(count.ok, count.all);
}

}  // namespace tarvex
