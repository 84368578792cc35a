#include "emulators/upd_command.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "emulators/devemu_options.h"
#include "emulators/emulator_support.h"
#include "emulators/trace_time.h"
#include "platform/codepage.h"

namespace emulators {
namespace {

constexpr std::size_t kMaxName = 16;
constexpr unsigned long long kMaxBlock = 100000000;

// Options of "devemu hc" that shape every emulated archive, and whether they take a value.
constexpr std::pair<std::string_view, bool> kDeviceOptions[] = {
    {"--clock", true},           {"--hours", true},         {"--report-day", true},
    {"--missing-days", true},    {"--missing-every", true}, {"--field31", false},
    {"--empty-archives", false},
};

std::optional<bool> DeviceOptionTakesValue(std::string_view name) {
    for (const auto& [option, takesValue] : kDeviceOptions) {
        if (name == option) {
            return takesValue;
        }
    }
    return std::nullopt;
}

// The name as the device keeps it: Windows-1251, at most 16 bytes; the error text, or empty.
std::string DeviceName(const std::string& utf8, std::string& name) {
    name = platform::Utf8ToCp1251(utf8);
    if (platform::Cp1251ToUtf8(name) != utf8) {
        return "the archive name '" + utf8 + "' has characters that Windows-1251 lacks";
    }
    if (name.size() > kMaxName) {
        return "the archive name '" + utf8 + "' is longer than 16 characters";
    }
    return {};
}

struct Parsing {
    UpdParseResult result;
    std::vector<std::optional<unsigned>> seeds;  // given with --archive, per catalog entry
    std::vector<std::string> deviceArgs{"--version", std::to_string(kTwoPipelineVersion)};
};

// --archive NAME[:SEED]; the seed is taken only when the part after the last colon is a number.
std::string AddArchive(const std::string& value, Parsing& parsing) {
    std::string text = value;
    std::optional<unsigned> seed;
    if (const auto colon = value.rfind(':'); colon != std::string::npos) {
        if (const auto n = ParseNumber(std::string_view(value).substr(colon + 1), 0xFFFFFFFFull)) {
            seed = static_cast<unsigned>(*n);
            text.resize(colon);
        }
    }
    UpdArchiveSource source;
    if (std::string error = DeviceName(text, source.name); !error.empty()) {
        return error;
    }
    parsing.result.options.archives.push_back(std::move(source));
    parsing.seeds.push_back(seed);
    return {};
}

// --archive-file NAME=PATH
std::string AddArchiveFile(const std::string& value, Parsing& parsing) {
    const auto equals = value.find('=');
    if (equals == std::string::npos || equals + 1 == value.size()) {
        return "--archive-file wants NAME=PATH, not '" + value + "'";
    }
    UpdArchiveSource source;
    if (std::string error = DeviceName(value.substr(0, equals), source.name); !error.empty()) {
        return error;
    }
    source.filePath = value.substr(equals + 1);
    parsing.result.options.archives.push_back(std::move(source));
    parsing.seeds.push_back(std::nullopt);
    return {};
}

// A block or entry number from 1 for a fault.
std::string SetNumber(const std::string& name, const std::string& value,
                      std::optional<unsigned>& target) {
    const auto n = ParseNumber(value, kMaxBlock);
    if (!n || *n == 0) {
        return name + " wants a number from 1, not '" + value + "'";
    }
    target = static_cast<unsigned>(*n);
    return {};
}

// One option with a value; the error text, or empty.
std::string ApplyOption(const std::string& name, const std::string& value, Parsing& parsing) {
    UpdRunOptions& options = parsing.result.options;
    if (name == "--archive") {
        return AddArchive(value, parsing);
    }
    if (name == "--archive-file") {
        return AddArchiveFile(value, parsing);
    }
    if (name == "--bad-entry") {
        return SetNumber(name, value, options.faults.badEntry);
    }
    if (name == "--bad-block") {
        return SetNumber(name, value, options.faults.badBlock);
    }
    if (name == "--short-block") {
        return SetNumber(name, value, options.faults.shortBlock);
    }
    if (name == "--silent-from-block") {
        return SetNumber(name, value, options.faults.silentFromBlock);
    }
    if (name == "--link") {
        options.line.linkPath = value;
        return value.empty() ? "--link needs a path" : "";
    }
    const auto n = ParseNumber(value, 4000000);
    if (name == "--baud") {
        if (!n || (*n != 0 && *n < 50)) {
            return "--baud must be 0 (the client's rate) or 50..4000000, not '" + value + "'";
        }
        options.line.baud = static_cast<unsigned>(*n);
    } else if (name == "--gap") {
        if (!n || *n == 0 || *n > 60000) {
            return "--gap must be 1..60000 ms, not '" + value + "'";
        }
        options.line.gapTimeoutMs = static_cast<unsigned>(*n);
    } else if (name == "--duration") {
        if (!n || *n > 1000000) {
            return "--duration must be 0..1000000 seconds, not '" + value + "'";
        }
        options.durationS = static_cast<unsigned>(*n);
    } else {
        return "unknown option " + name + "; see devemu upd --help";
    }
    return {};
}

// Flags without a value; false when `name` is none of them.
bool ApplyFlag(const std::string& name, Parsing& parsing) {
    UpdRunOptions& options = parsing.result.options;
    if (name == "--verbose" || name == "-v") {
        options.verbose = true;
    } else if (name == "--silent") {
        options.faults.silent = true;
    } else if (name == "--no-ack") {
        options.faults.noAcknowledgement = true;
    } else if (DeviceOptionTakesValue(name) == false) {
        parsing.deviceArgs.push_back(name);
    } else {
        return false;
    }
    return true;
}

// The device every archive is made of, and the seeds left to their places in the catalog.
UpdParseResult Finish(Parsing parsing) {
    UpdParseResult& result = parsing.result;
    const HcParseResult device = ParseHcArguments(parsing.deviceArgs);
    if (device.action != HcParseResult::Action::Run) {
        result.action = UpdParseResult::Action::Error;
        result.message = device.message;
        return result;
    }
    result.options.device = device.options.devices.front();
    for (std::size_t i = 0; i < result.options.archives.size(); ++i) {
        result.options.archives[i].seed = parsing.seeds[i].value_or(static_cast<unsigned>(i + 1));
    }
    result.action = UpdParseResult::Action::Run;
    return result;
}

}  // namespace

UpdParseResult ParseUpdArguments(const std::vector<std::string>& args) {
    Parsing parsing;
    auto fail = [&](const std::string& message) {
        parsing.result.action = UpdParseResult::Action::Error;
        parsing.result.message = message;
        return parsing.result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionWord word = SplitOptionWord(args[i]);
        const std::string& name = word.name;
        if (name == "--help" || name == "-h") {
            parsing.result.action = UpdParseResult::Action::Help;
            return parsing.result;
        }
        if (!word.inlineValue && ApplyFlag(name, parsing)) {
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
        if (DeviceOptionTakesValue(name) == true) {
            parsing.deviceArgs.push_back(name);
            parsing.deviceArgs.push_back(value);
        } else if (std::string error = ApplyOption(name, value, parsing); !error.empty()) {
            return fail(error);
        }
    }
    return Finish(std::move(parsing));
}

std::vector<UpdArchive> MakeUpdCatalog(const UpdRunOptions& options) {
    std::vector<UpdArchive> catalog;
    for (const UpdArchiveSource& source : options.archives) {
        if (source.filePath.empty()) {
            HcConfig device = options.device;
            device.seed = source.seed;
            catalog.push_back(MakeUpdArchive(source.name, device));
            continue;
        }
        std::ifstream file(source.filePath, std::ios::binary);
        if (!file) {
            throw std::runtime_error("cannot read " + source.filePath);
        }
        catalog.push_back(
            {source.name, std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {})});
    }
    return catalog;
}

std::string UpdUsage() {
    return "Usage: devemu upd [options]\n"
           "\n"
           "Emulates the data transfer device (UPD) on a pseudo-terminal: a catalog of archives\n"
           "that a workstation lists and downloads 16 bytes at a time. The first line on\n"
           "standard output is the line's path (e.g. /dev/pts/7); open it as the serial port\n"
           "(e.g. CALVIX_COM1=/dev/pts/7). The emulator runs until --duration has passed or\n"
           "until it gets SIGINT or SIGTERM (Ctrl+C); then it removes its --link and exits.\n"
           "\n"
           "Catalog (in the order given; none at all: an empty catalog):\n"
           "  --archive NAME[:SEED]     the dump of an emulated version-60 heat calculator,\n"
           "                            as 'devemu dump' makes it; SEED defaults to 1 + the\n"
           "                            entry's place in the catalog (from 0)\n"
           "  --archive-file NAME=PATH  the bytes of a file, e.g. one written by 'devemu dump'\n"
           "  Names are at most 16 characters, all of them in Windows-1251.\n"
           "\n"
           "Device options, for every --archive (as for 'devemu hc'):\n"
           "  --clock \"YYYY-MM-DD HH:MM:SS\" (default: the host clock), --field31, --hours N,\n"
           "  --report-day N, --empty-archives, --missing-days LIST, --missing-every N\n"
           "\n"
           "Faults:\n"
           "  --silent                  answer nothing at all\n"
           "  --no-ack                  do not acknowledge the open command\n"
           "  --bad-entry N             catalog entry N (from 1) with a wrong checksum\n"
           "  --bad-block N             block N (from 1) of every archive with a wrong checksum\n"
           "  --short-block N           block N answered with 10 of its 20 bytes\n"
           "  --silent-from-block N     no answer to block N and to anything after it\n"
           "\n"
           "Line:\n"
           "  --baud B                  pace replies at B baud, 12 bits a byte (0, the default:\n"
           "                            at the rate the client set)\n"
           "  --gap MS                  a pause inside a command discards it (250)\n"
           "  --link PATH               make PATH a symbolic link to the line\n"
           "  --duration SECONDS        exit after that long (0 = until stopped)\n"
           "  --verbose                 trace commands and replies on standard error\n"
           "  --help                    this text\n"
           "\n"
           "Examples:\n"
           "  devemu upd --archive \"Котельная 1\" --archive School:7 --link /tmp/upd\n"
           "  devemu upd --archive-file Damaged=/tmp/damaged.dat --bad-block 3\n"
           "\n"
           "Exit status: 0 after a normal stop, 1 when the line, the link or a file fails, 2 for\n"
           "bad arguments.\n";
}

int RunUpdCommand(const std::vector<std::string>& args) {
    const UpdParseResult parsed = ParseUpdArguments(args);
    if (parsed.action == UpdParseResult::Action::Help) {
        std::fputs(UpdUsage().c_str(), stdout);
        return 0;
    }
    if (parsed.action == UpdParseResult::Action::Error) {
        std::fprintf(stderr, "devemu upd: %s\nRun 'devemu upd --help' for the options.\n",
                     parsed.message.c_str());
        return 2;
    }
    UpdRunOptions run = parsed.options;
    // Blocked before the line's thread starts, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (run.verbose) {
        run.line.trace = [](const std::string& text) {
            std::fprintf(stderr, "%s %s\n", TraceTimestamp().c_str(), text.c_str());
        };
    }
    try {
        UpdLine line(MakeUpdCatalog(run), run.faults, run.line);
        std::printf("%s\n", line.SlavePath().c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "devemu: data transfer device with %zu archive(s) on %s%s%s\n",
                     run.archives.size(), line.SlavePath().c_str(),
                     run.line.linkPath.empty() ? "" : " linked as ", run.line.linkPath.c_str());
        WaitForSignal(signals, DurationDeadline(run.durationS));
        line.Stop();
        const UpdStats s = line.Stats();
        std::fprintf(stderr,
                     "devemu: upd: %u commands (%u opens), %u entries, %u ends of list, %u "
                     "blocks, %u discarded\n",
                     s.requests, s.opens, s.entriesSent, s.endOfListSent, s.blocksSent,
                     s.commandsDiscarded);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devemu: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace emulators
