// Which serial ports carry modems, and how each one is driven. TARVEX_MODEMS lists entries
// separated by blanks, commas or semicolons; line devices are numbered in the list's order:
//
//   COMn[:MAXRATE][/OPTION...]
//
// MAXRATE is the modem's highest rate in bit/s (the line device's maximal rate, 115200 when left
// out). Options, each after a "/":
//   init=COMMANDS  one more command line sent after the standard set-up ("AT" optional);
//                  repeatable. Given, they replace the default "X4" and a refusal is fatal.
//   dte=RATE       the port rate (115200 when left out)
//   rtscts         RTS/CTS flow control on the port
//   dial=PREFIX    the dial command: ATDT (default), ATDP, ATX3DT...
// An entry with an unknown or malformed option is skipped, as are repeated ports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telephony {

inline constexpr std::uint32_t kDefaultMaxRate = 115200;
inline constexpr std::uint32_t kDefaultDteRate = 115200;
inline constexpr const char* kModemsVariable = "TARVEX_MODEMS";
inline constexpr const char* kDefaultDialPrefix = "ATDT";

struct ModemConfig {
    std::string portName;  // "COM3"
    std::uint32_t maxRate = kDefaultMaxRate;
    std::uint32_t dteRate = kDefaultDteRate;
    bool rtsCts = false;
    std::vector<std::string> init;  // command lines without "AT"
    std::string dialPrefix = kDefaultDialPrefix;
    bool operator==(const ModemConfig&) const = default;
};

std::vector<ModemConfig> ParseModemList(std::string_view text);
// The list in TARVEX_MODEMS; empty when it is not set.
std::vector<ModemConfig> ConfiguredModems();

// True when `number` holds only what a dial string may carry: digits, * # A-D, the pause ","
// and wait "W" "@", flash "!", tone/pulse "T" "P", and the blanks - ( ) that modems skip. A CR
// or ";" would end the dial command and start another.
bool IsDialString(std::string_view number);

}  // namespace telephony
