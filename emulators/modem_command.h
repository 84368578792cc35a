// "devemu modem": the command line of the modem emulator, kept apart from main() so that the
// tests can check it.
#pragma once

#include <string>
#include <vector>

#include "emulators/hc_device.h"
#include "emulators/modem_emulator.h"

namespace emulators {

struct ModemRunOptions {
    ModemOptions modem;
    bool heatCalculator = false;  // start one on its own line; peer "hc" leads there
    HcConfig heatCalculatorConfig;
    unsigned durationS = 0;  // 0: until signalled
    bool verbose = false;
};

struct ModemParseResult {
    enum class Action { Run, Help, Error };
    Action action = Action::Error;
    ModemRunOptions options;
    std::string message;  // the error for Action::Error
};

// `args` are the words after "modem".
ModemParseResult ParseModemArguments(const std::vector<std::string>& args);
std::string ModemUsage();  // devemu modem --help

// The whole subcommand: parses, runs until stopped, returns the exit status.
int RunModemCommand(const std::vector<std::string>& args);

}  // namespace emulators
