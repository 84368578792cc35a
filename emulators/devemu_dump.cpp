#include "emulators/devemu_dump.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "emulators/devemu_options.h"

namespace emulators {
namespace {

// "3" or "3,17": block numbers from 1.
bool ParseBlockList(std::string_view text, std::vector<std::size_t>& blocks) {
    while (true) {
        const auto comma = text.find(',');
        const auto n = ParseNumber(text.substr(0, comma), 100000000);
        if (!n || *n == 0) {
            return false;
        }
        blocks.push_back(static_cast<std::size_t>(*n));
        if (comma == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(comma + 1);
    }
}

// One option of the dump itself and its value; the error text, or empty.
std::string ApplyDumpOption(const std::string& name, const std::string& value,
                            DumpParseResult& result) {
    if (name == "--output") {
        if (value.empty()) {
            return "--output needs a path";
        }
        result.outputPath = value;
    } else if (name == "--drop") {
        std::string_view rest = value;
        while (true) {
            const auto comma = rest.find(',');
            const auto part = DumpPartByName(rest.substr(0, comma));
            if (!part) {
                return "--drop wants record kinds (" + DumpPartNames() + "), not '" + value + "'";
            }
            result.dump.drop.push_back(*part);
            if (comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
    } else if (name == "--truncate" || name == "--size") {
        const auto n = ParseNumber(value, 100000000);
        if (!n) {
            return name + " must be a byte count 0..100000000, not '" + value + "'";
        }
        if (name == "--size") {
            result.dump.padTo = static_cast<std::size_t>(*n);
        } else {
            result.dump.truncateAt = static_cast<std::size_t>(*n);
        }
    } else if (name == "--pad") {
        const auto padding = DumpPaddingByName(value);
        if (!padding) {
            return "--pad must be zero, ff or none, not '" + value + "'";
        }
        result.dump.padding = *padding;
    } else if (name == "--lose-block") {
        if (!ParseBlockList(value, result.dump.lostBlocks)) {
            return "--lose-block wants block numbers from 1, comma separated, not '" + value + "'";
        }
    } else {  // --dump-version
        const auto n = ParseNumber(value, 255);
        if (!n) {
            return "--dump-version must be a number 0..255, not '" + value + "'";
        }
        result.dump.versionByte = static_cast<std::uint8_t>(*n);
    }
    return {};
}

// The device of the dump from the options of "devemu hc", and the checks of the whole line.
DumpParseResult TakeDevice(const std::vector<std::string>& deviceArgs, DumpParseResult result) {
    const HcParseResult device = ParseHcArguments(deviceArgs);
    result.action = DumpParseResult::Action::Error;
    if (device.action == HcParseResult::Action::Help) {
        result.action = DumpParseResult::Action::Help;
    } else if (device.action == HcParseResult::Action::Error) {
        result.message = device.message;
    } else if (device.options.devices.size() != 1) {
        result.message = "a dump is made of one device: give --address once";
    } else if (device.options.devices.front().version != kTwoPipelineVersion) {
        result.message = "only a version-60 device can be dumped";
    } else if (result.outputPath.empty()) {
        result.message = "--output PATH is required";
    } else {
        result.device = device.options.devices.front();
        result.action = DumpParseResult::Action::Run;
    }
    return result;
}

}  // namespace

DumpParseResult ParseDumpArguments(const std::vector<std::string>& args) {
    DumpParseResult result;
    auto fail = [&](const std::string& message) {
        result.action = DumpParseResult::Action::Error;
        result.message = message;
        return result;
    };
    // The device is version 60 unless a later --version says otherwise.
    std::vector<std::string> deviceArgs{"--version", std::to_string(kTwoPipelineVersion)};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionWord word = SplitOptionWord(args[i]);
        const std::string& name = word.name;
        if (name == "--help" || name == "-h") {
            result.action = DumpParseResult::Action::Help;
            return result;
        }
        if (name == "--no-year") {
            result.dump.clockWithoutYear = true;
            continue;
        }
        const bool ours = name == "--output" || name == "--drop" || name == "--truncate" ||
                          name == "--pad" || name == "--size" || name == "--lose-block" ||
                          name == "--dump-version";
        if (!ours) {
            deviceArgs.push_back(args[i]);  // a device option, or the value of one
            continue;
        }
        const std::optional<std::string> taken = TakeOptionValue(args, i, word);
        if (!taken) {
            return fail("option " + name + " needs a value");
        }
        const std::string& value = *taken;
        if (const std::string error = ApplyDumpOption(name, value, result); !error.empty()) {
            return fail(error);
        }
    }

    return TakeDevice(deviceArgs, std::move(result));
}

std::string DumpUsage() {
    return "Usage: devemu dump --output PATH [options]\n"
           "\n"
           "Writes the dump file that the data transfer device (UPD) holds after it has read a\n"
           "version-60 heat calculator: start, clock, fields 57, 58, 30 (or 31), the fields of\n"
           "pipelines 1 and 2, the hourly, daily and monthly archives, stop. The device is the\n"
           "one 'devemu hc' would emulate with the same options, read at its clock, so that\n"
           "converting the dump gives what reading that device directly gives.\n"
           "\n"
           "Dump options:\n"
           "  --output PATH       the file to write (required)\n"
           "  --no-year           clock record without the year (five values)\n"
           "  --drop KINDS        leave out these kinds of records, comma separated, from:\n"
           "                      " +
           DumpPartNames() +
           "\n"
           "  --dump-version V    put V in place of 60 at data byte 14 of the field-30 record\n"
           "  --pad FILL          what fills the last 16-byte block: zero (default), ff, or\n"
           "                      none (the records alone, as no device delivers them)\n"
           "  --size BYTES        padding after the records makes the file this long\n"
           "  --lose-block N,...  leave out these 16-byte blocks (from 1), as a download\n"
           "                      that skipped them would\n"
           "  --truncate BYTES    cut the file after this many bytes\n"
           "  --help              this text\n"
           "\n"
           "Device options (as for 'devemu hc'; see 'devemu hc --help'):\n"
           "  --seed S, --address N, --clock \"YYYY-MM-DD HH:MM:SS\" (default: the host clock),\n"
           "  --field31, --hours N, --report-day N, --empty-archives, --missing-days LIST,\n"
           "  --missing-every N\n"
           "\n"
           "Examples:\n"
           "  devemu dump --clock \"2024-03-15 10:20:30\" --output /tmp/upd.dat\n"
           "  devemu dump --field31 --no-year --drop monthly --output /tmp/upd.dat\n"
           "  devemu dump --pad ff --size 1024001 --output /tmp/too-big.dat\n"
           "  devemu dump --lose-block 20 --output /tmp/damaged.dat\n"
           "\n"
           "Exit status: 0 when the file was written, 1 when it could not be, 2 for bad\n"
           "arguments. See docs/emulators.md for the records and their offsets.\n";
}

int RunDump(const DumpParseResult& parsed) {
    try {
        const HcDevice device(parsed.device);
        WriteUpdDump(device, parsed.outputPath, parsed.dump);
        std::printf("%s\n", parsed.outputPath.c_str());
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devemu dump: %s\n", e.what());
        return 1;
    }
    return 0;
}

int DumpMain(const std::vector<std::string>& args) {
    const DumpParseResult parsed = ParseDumpArguments(args);
    switch (parsed.action) {
        case DumpParseResult::Action::Help:
            std::fputs(DumpUsage().c_str(), stdout);
            return 0;
        case DumpParseResult::Action::Error:
            std::fprintf(stderr, "devemu dump: %s\nRun 'devemu dump --help' for the options.\n",
                         parsed.message.c_str());
            return 2;
        case DumpParseResult::Action::Run:
            break;
    }
    return RunDump(parsed);
}

}  // namespace emulators
