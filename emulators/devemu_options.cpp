#include "emulators/devemu_options.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <set>
#include <string_view>

#include "emulators/hc_memory_map.h"

namespace emulators {

OptionWord SplitOptionWord(const std::string& word) {
    OptionWord split{word, std::nullopt};
    if (const auto eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
        split.inlineValue = word.substr(eq + 1);
        split.name.resize(eq);
    }
    return split;
}

std::optional<std::string> TakeOptionValue(const std::vector<std::string>& args, std::size_t& i,
                                           const OptionWord& word) {
    if (word.inlineValue) {
        return word.inlineValue;
    }
    if (i + 1 < args.size()) {
        return args[++i];
    }
    return std::nullopt;
}

std::optional<unsigned long long> ParseNumber(std::string_view text, unsigned long long max) {
    unsigned long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value > max) {
        return std::nullopt;
    }
    return value;
}

namespace {

// "YYYY-MM-DD HH:MM:SS" (or with 'T'), UTC, years 2000..2099 since the device keeps two digits.
std::optional<long long> ParseClock(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day, &separator,
                    &hour, &minute, &second, &consumed) != 7 ||
        static_cast<std::size_t>(consumed) != text.size() ||
        (separator != ' ' && separator != 'T')) {
        return std::nullopt;
    }
    if (year < 2000 || year > 2099) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::time_t t = timegm(&tm);
    // timegm normalises 31 April into 1 May: reject what did not survive unchanged.
    std::tm back{};
    gmtime_r(&t, &back);
    if (back.tm_year != year - 1900 || back.tm_mon != month - 1 || back.tm_mday != day ||
        back.tm_hour != hour || back.tm_min != minute || back.tm_sec != second) {
        return std::nullopt;
    }
    return static_cast<long long>(t);
}

// KIND[:COUNT][@AFTER], or silence:MS[@AFTER].
std::optional<Fault> ParseFault(std::string_view text, std::string& error) {
    Fault fault;
    std::string_view head = text;
    if (const auto at = text.find('@'); at != std::string_view::npos) {
        head = text.substr(0, at);
        const auto after = ParseNumber(text.substr(at + 1), 1000000);
        if (!after) {
            error = "bad AFTER in --fault " + std::string(text);
            return std::nullopt;
        }
        fault.afterFrames = static_cast<unsigned>(*after);
    }
    std::string_view kind = head;
    std::optional<std::string_view> argument;
    if (const auto colon = head.find(':'); colon != std::string_view::npos) {
        kind = head.substr(0, colon);
        argument = head.substr(colon + 1);
    }
    if (kind == "silence") {
        const auto ms = argument ? ParseNumber(*argument, 3600000) : std::nullopt;
        if (!ms || *ms == 0) {
            error = "--fault silence needs a duration: silence:MS[@AFTER], MS 1..3600000";
            return std::nullopt;
        }
        fault.kind = FaultKind::Silence;
        fault.durationMs = static_cast<unsigned>(*ms);
        return fault;
    }
    if (kind == "bad-checksum") {
        fault.kind = FaultKind::BadChecksum;
    } else if (kind == "lost-answer") {
        fault.kind = FaultKind::LostAnswer;
    } else if (kind == "garbage") {
        fault.kind = FaultKind::Garbage;
    } else if (kind == "wrong-head") {
        fault.kind = FaultKind::WrongHead;
    } else if (kind == "truncated") {
        fault.kind = FaultKind::Truncated;
    } else if (kind == "status-zero") {
        fault.kind = FaultKind::StatusZeroStorm;
    } else if (kind == "line-gone") {
        fault.kind = FaultKind::LineGone;
    } else {
        error = "unknown fault kind '" + std::string(kind) +
                "' (bad-checksum, lost-answer, garbage, wrong-head, truncated, status-zero, "
                "line-gone, silence)";
        return std::nullopt;
    }
    if (argument) {
        const auto count = ParseNumber(*argument, 1000000);
        if (!count || *count == 0) {
            error = "bad COUNT in --fault " + std::string(text) + " (1..1000000)";
            return std::nullopt;
        }
        fault.count = static_cast<unsigned>(*count);
    }
    return fault;
}

// "3,10,0": numbers 0..max separated by commas.
std::optional<std::vector<unsigned>> ParseNumberList(std::string_view text, unsigned max) {
    std::vector<unsigned> numbers;
    while (true) {
        const auto comma = text.find(',');
        const auto number = ParseNumber(text.substr(0, comma), max);
        if (!number) {
            return std::nullopt;
        }
        numbers.push_back(static_cast<unsigned>(*number));
        if (comma == std::string_view::npos) {
            return numbers;
        }
        text.remove_prefix(comma + 1);
    }
}

std::string SupportedVersionText() {
    std::string text;
    for (int v : SupportedVersions()) {
        text += (text.empty() ? "" : ", ") + std::to_string(v);
    }
    return text;
}

std::optional<int> ParseVersion(std::string_view text) {
    const auto n = ParseNumber(text, 255);
    if (!n || FindPersonality(static_cast<int>(*n)) == nullptr) {
        return std::nullopt;
    }
    return static_cast<int>(*n);
}

// A device of the line: its address and, from --device, its own version.
struct DeviceSpec {
    unsigned address = 0;
    std::optional<int> version;
};

// "ADDRESS:VERSION" of --device.
std::optional<DeviceSpec> ParseDeviceSpec(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto address = ParseNumber(text.substr(0, colon), 255);
    const auto version = ParseVersion(text.substr(colon + 1));
    if (!address || *address == 0 || !version) {
        return std::nullopt;
    }
    return DeviceSpec{static_cast<unsigned>(*address), *version};
}

}  // namespace

HcParseResult ParseHcArguments(const std::vector<std::string>& args) {
    HcParseResult result;
    HcRunOptions& run = result.options;
    auto fail = [&](const std::string& message) {
        result.action = HcParseResult::Action::Error;
        result.message = message;
        return result;
    };

    std::vector<DeviceSpec> specs;
    HcConfig base;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionWord word = SplitOptionWord(args[i]);
        const std::string& name = word.name;
        if (name == "--help" || name == "-h") {
            result.action = HcParseResult::Action::Help;
            return result;
        }
        if (name == "--verbose" || name == "-v") {
            run.verbose = true;
            continue;
        }
        if (name == "--field31") {
            base.field31 = true;
            continue;
        }
        if (name == "--empty-archives") {
            base.emptyArchives = true;
            continue;
        }
        if (name == "--clock-bad-date") {
            base.clockBadDate = true;
            continue;
        }
        if (name.rfind("--", 0) != 0) {
            return fail("unexpected argument '" + name + "'");
        }
        const std::optional<std::string> taken = TakeOptionValue(args, i, word);
        if (!taken) {
            return fail("option " + name + " needs a value");
        }
        const std::string& value = *taken;
        auto number = [&](unsigned long long min,
                          unsigned long long max) -> std::optional<unsigned long long> {
            const auto n = ParseNumber(value, max);
            if (!n || *n < min) {
                return std::nullopt;
            }
            return n;
        };
        auto range = [&](unsigned long long min, unsigned long long max) {
            return name + " must be a number " + std::to_string(min) + ".." + std::to_string(max) +
                   ", not '" + value + "'";
        };

        if (name == "--address") {
            const auto n = number(1, 255);
            if (!n) {
                return fail(range(1, 255));
            }
            specs.push_back({static_cast<unsigned>(*n), std::nullopt});
        } else if (name == "--device") {
            const auto spec = ParseDeviceSpec(value);
            if (!spec) {
                return fail("--device wants ADDRESS:VERSION, address 1..255, version one of " +
                            SupportedVersionText() + ", not '" + value + "'");
            }
            specs.push_back(*spec);
        } else if (name == "--version") {
            const auto version = ParseVersion(value);
            if (!version) {
                return fail("--version " + value +
                            " is not emulated (emulated: " + SupportedVersionText() + ")");
            }
            base.version = *version;
        } else if (name == "--seed") {
            const auto n = number(0, std::numeric_limits<std::uint32_t>::max());
            if (!n) {
                return fail(range(0, std::numeric_limits<std::uint32_t>::max()));
            }
            base.seed = static_cast<std::uint32_t>(*n);
        } else if (name == "--polls") {
            const auto n = number(0, 1000);
            if (!n) {
                return fail(range(0, 1000));
            }
            base.statusZeroPolls = static_cast<unsigned>(*n);
        } else if (name == "--mailbox-delay") {
            const auto n = number(0, 600000);
            if (!n) {
                return fail(range(0, 600000));
            }
            base.mailboxDelayMs = static_cast<unsigned>(*n);
        } else if (name == "--answer-delay") {
            const auto n = number(0, 60000);
            if (!n) {
                return fail(range(0, 60000));
            }
            base.answerDelayMs = static_cast<unsigned>(*n);
        } else if (name == "--baud") {
            const auto n = number(0, 4000000);
            if (!n || (*n != 0 && *n < 50)) {
                return fail("--baud must be 0 (the client's rate) or 50..4000000, not '" + value +
                            "'");
            }
            run.line.baud = static_cast<unsigned>(*n);
        } else if (name == "--gap") {
            const auto n = number(1, 60000);
            if (!n) {
                return fail(range(1, 60000));
            }
            run.line.gapTimeoutMs = static_cast<unsigned>(*n);
        } else if (name == "--clock") {
            const auto t = ParseClock(value);
            if (!t) {
                return fail("--clock wants \"YYYY-MM-DD HH:MM:SS\" (UTC, years 2000..2099), not '" +
                            value + "'");
            }
            base.clockEpoch = *t;
        } else if (name == "--fault") {
            std::string error;
            const auto fault = ParseFault(value, error);
            if (!fault) {
                return fail(error);
            }
            run.faults.push_back(*fault);
        } else if (name == "--link") {
            if (value.empty()) {
                return fail("--link needs a path");
            }
            run.line.linkPath = value;
        } else if (name == "--duration") {
            const auto n = number(0, 31536000);
            if (!n) {
                return fail(range(0, 31536000));
            }
            run.durationS = static_cast<unsigned>(*n);
        } else if (name == "--hours") {
            const auto n = number(0, 100000);
            if (!n) {
                return fail(range(0, 100000));
            }
            base.hourlyRecords = static_cast<unsigned>(*n);
        } else if (name == "--report-day") {
            const auto n = number(1, 31);
            if (!n) {
                return fail(range(1, 31));
            }
            base.reportDay = static_cast<std::uint8_t>(*n);
        } else if (name == "--missing-days") {
            const auto days = ParseNumberList(value, 1000);
            if (!days) {
                return fail(
                    "--missing-days wants days back from today (0..1000), e.g. 0,3,10, "
                    "not '" +
                    value + "'");
            }
            base.missingDays = *days;
        } else if (name == "--missing-every") {
            const auto n = number(0, 1000);
            if (!n) {
                return fail(range(0, 1000));
            }
            base.missingEveryNthDay = static_cast<unsigned>(*n);
        } else if (name == "--refuse") {
            const auto codes = ParseNumberList(value, 255);
            if (!codes) {
                return fail("--refuse wants command codes 0..255, e.g. 16,15,12, not '" + value +
                            "'");
            }
            base.refusedCommands.assign(codes->begin(), codes->end());
        } else if (name == "--clock-status") {
            const auto n = number(0, 255);
            if (!n) {
                return fail(range(0, 255));
            }
            base.clockStatus = static_cast<std::uint8_t>(*n);
        } else {
            return fail("unknown option " + name);
        }
    }
    if (specs.empty()) {
        specs.push_back({1, std::nullopt});
    }
    std::set<unsigned> seen;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const unsigned address = specs[i].address;
        if (!seen.insert(address).second) {
            return fail("address " + std::to_string(address) + " is given twice");
        }
        HcConfig config = base;
        config.address = static_cast<std::uint8_t>(address);
        config.version = specs[i].version.value_or(base.version);
        config.seed = base.seed + static_cast<std::uint32_t>(i);
        if (config.field31 && config.version != kTwoPipelineVersion) {
            return fail("--field31 needs version 60 (address " + std::to_string(address) +
                        " is version " + std::to_string(config.version) + ")");
        }
        run.devices.push_back(config);
    }
    result.action = HcParseResult::Action::Run;
    return result;
}

std::string DevemuUsage() {
    return "Usage: devemu EMULATOR [options]\n"
           "       devemu EMULATOR --help\n"
           "\n"
           "Device emulators on pseudo-terminals, for trying the workstation programs and for\n"
           "their tests without hardware. Each emulator prints the path of its serial line\n"
           "(e.g. /dev/pts/7) as the first line on standard output; point a COM port at it,\n"
           "e.g. CALVIX_COM1=/dev/pts/7, or use --link to give it a fixed name.\n"
           "\n"
           "Emulators:\n"
           "  hc    heat calculator(s) on a multi-drop line: memory reads and writes, the\n"
           "        data directories, the command mailbox, current values, archives, faults\n"
           "  modem Hayes AT modem: dialled numbers connect to a heat calculator or an echo, or\n"
           "        give BUSY, NO ANSWER...; incoming calls ring on a signal\n"
           "  upd   data transfer device (UPD): a catalog of archives, each the dump of an\n"
           "        emulated version-60 heat calculator or a file, handed over in blocks\n"
           "  dump  not an emulator on a line: writes the dump file of the data transfer device\n"
           "        (UPD) after it has read an emulated version-60 heat calculator\n"
           "\n"
           "Run 'devemu hc --help' for the options.\n"
           "Run 'devemu dump --help' for the dump's options.\n"
           "Run 'devemu modem --help' for the modem's options.\n"
           "Run 'devemu upd --help' for the UPD's options.\n";
}

std::string HcUsage() {
    return "Usage: devemu hc [options]\n"
           "\n"
           "Emulates one or more heat calculators on one serial line made of a pseudo-terminal.\n"
           "The first line on standard output is the line's path (e.g. /dev/pts/7); open it as\n"
           "the serial port (e.g. CALVIX_COM1=/dev/pts/7). A device answers only requests with\n"
           "its own address. The emulator runs until --duration has passed or until it gets\n"
           "SIGINT or SIGTERM (Ctrl+C); then it removes its --link and exits.\n"
           "\n"
           "Devices:\n"
           "  --address N         address on the line, 1..255 (default 1); repeat the option\n"
           "                      to put several devices on the line\n"
           "  --version V         firmware version of the devices --device does not set\n"
           "                      (default 45; emulated: " +
           SupportedVersionText() +
           ")\n"
           "  --device A:V        a device at address A with its own version V; repeatable,\n"
           "                      and mixes with --address, e.g. --device 3:60 --device 5:53\n"
           "  --seed S            seed of the generated data: factory number, current values,\n"
           "                      archives (default 1); the n-th device (--address or --device,\n"
           "                      from 0) uses S+n\n"
           "  --clock \"YYYY-MM-DD HH:MM:SS\"\n"
           "                      device clock at start, UTC; it then runs in real time\n"
           "                      (default: the host clock, UTC)\n"
           "  --field31           also a field 31, with other contents, next to field 30 in\n"
           "                      groups 101/0, 230/1 and 230/2; every device must be version 60\n"
           "\n"
           "Archives and answers:\n"
           "  --hours N           records in the hourly archive, the hours before the\n"
           "                      current one (default 240)\n"
           "  --report-day N      the reporting day of the month, 1..31 (default 1)\n"
           "  --empty-archives    hourly, daily and monthly archives answer \"no record\"\n"
           "  --missing-days LIST days of the daily archive without a record, counted back\n"
           "                      from today (0 = today), e.g. 1,5,20\n"
           "  --missing-every N   also every N-th day back (N, 2N, ...) has no record\n"
           "                      (default 0: none)\n"
           "  --clock-status N    status byte of the clock command's answer (default 1;\n"
           "                      another value comes with six zero bytes)\n"
           "  --clock-bad-date    the clock command answers 31 April of the device's year\n"
           "  --refuse CODES      answer these commands with status 3 as if unknown,\n"
           "                      e.g. 16,15,12 for a device without an hourly archive\n"
           "\n"
           "Timing:\n"
           "  --polls N           reads of the answer area that still find status 0 after a\n"
           "                      command, before the answer shows (default 0)\n"
           "  --mailbox-delay MS  and no answer earlier than MS after the command (default 0)\n"
           "  --answer-delay MS   pause between the end of a request and the answer (default 2)\n"
           "  --baud B            pace both directions as a B-baud line would, 11 bits a byte\n"
           "                      (default 0: the rate the client set on its port)\n"
           "  --gap MS            a pause of MS inside a request discards the bytes received so\n"
           "                      far (default 250)\n"
           "\n"
           "Faults (repeatable; queued in the given order and given to every device; COUNT is\n"
           "how many answers are spoiled, default 1; AFTER is how many good requests pass\n"
           "untouched first, counted from the end of the previous fault, default 0):\n"
           "  --fault bad-checksum[:COUNT][@AFTER]  last answer byte one too high\n"
           "  --fault lost-answer[:COUNT][@AFTER]   request carried out, no answer sent\n"
           "  --fault garbage[:COUNT][@AFTER]       3..8 random bytes in front of the answer\n"
           "  --fault wrong-head[:COUNT][@AFTER]    answer byte 0 is 0x01, checksum still right\n"
           "  --fault truncated[:COUNT][@AFTER]     only the first part of the answer goes out\n"
           "  --fault status-zero:POLLS[@AFTER]     the next command's answer stays at status 0\n"
           "                                        for POLLS more polls\n"
           "  --fault line-gone[@AFTER]             no answer, and the line disappears\n"
           "  --fault silence:MS[@AFTER]            deaf for MS milliseconds from that request on\n"
           "\n"
           "Other:\n"
           "  --link PATH         also make PATH a symbolic link to the line (an existing link\n"
           "                      is replaced; it is removed at exit)\n"
           "  --duration SECONDS  exit after SECONDS (default 0: run until signalled)\n"
           "  --verbose           trace every request and answer on standard error\n"
           "  --help              this text\n"
           "\n"
           "Examples:\n"
           "  devemu hc --link /tmp/hc-line\n"
           "  devemu hc --address 3 --address 7 --baud 9600 --verbose\n"
           "  devemu hc --device 3:60 --device 5:53 --baud 9600\n"
           "  devemu hc --clock \"2024-03-15 10:20:30\" --polls 2 --fault lost-answer:2@10\n"
           "\n"
           "Exit status: 0 after a normal stop, 1 when the line cannot be set up, 2 for bad\n"
           "arguments. See docs/emulators.md for the memory map and the commands.\n";
}

}  // namespace emulators
