// Command line of the devemu program: parsing and help texts, kept apart from main() so that
// the tests can check them.
#pragma once

#include <optional>
#include <string_view>

#include <string>
#include <vector>

#include "emulators/hc_device.h"
#include "emulators/hc_line.h"

namespace emulators {

// One word of a command line: "--name=value" split at its "=", anything else whole.
struct OptionWord {
    std::string name;
    std::optional<std::string> inlineValue;
};
OptionWord SplitOptionWord(const std::string& word);

// The value of the option at args[i]: its inline value, else the next word (i moves on to it);
// nullopt when there is none.
std::optional<std::string> TakeOptionValue(const std::vector<std::string>& args, std::size_t& i,
                                           const OptionWord& word);

// A whole decimal number of an option, at most `max`; nullopt for anything else.
std::optional<unsigned long long> ParseNumber(std::string_view text, unsigned long long max);

struct HcRunOptions {
    std::vector<HcConfig> devices;
    LineOptions line;
    std::vector<Fault> faults;  // injected into every device, in order
    unsigned durationS = 0;     // 0: until signalled
    bool verbose = false;
};

struct HcParseResult {
    enum class Action { Run, Help, Error };
    Action action = Action::Error;
    HcRunOptions options;
    std::string message;  // the error for Action::Error
};

// `args` are the words after "hc".
HcParseResult ParseHcArguments(const std::vector<std::string>& args);

std::string DevemuUsage();  // devemu --help
std::string HcUsage();      // devemu hc --help

}  // namespace emulators
