// Which serial ports carry modems: TARVEX_MODEMS="COM3 COM5:33600". Each entry is a port name
// COM1..COM8, optionally followed by ":" and the modem's highest rate in bit/s (the line
// device's maximal rate; 115200 when left out). Entries are separated by blanks, commas or
// semicolons; malformed and repeated entries are skipped. Line devices are numbered in the
// order of the list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telephony {

inline constexpr std::uint32_t kDefaultMaxRate = 115200;
inline constexpr const char* kModemsVariable = "TARVEX_MODEMS";

struct ModemConfig {
    std::string portName;  // "COM3"
    std::uint32_t maxRate = kDefaultMaxRate;
    bool operator==(const ModemConfig&) const = default;
};

std::vector<ModemConfig> ParseModemList(std::string_view text);
// The list in TARVEX_MODEMS; empty when it is not set.
std::vector<ModemConfig> ConfiguredModems();

}  // namespace telephony
