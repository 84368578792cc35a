// devemu: device emulators on pseudo-terminals. "devemu hc" runs heat calculators.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "emulators/devemu_dump.h"
#include "emulators/devemu_options.h"
#include "emulators/emulator_support.h"
#include "emulators/hc_line.h"
#include "emulators/modem_command.h"
#include "emulators/trace_time.h"
#include "emulators/upd_command.h"

namespace {

using emulators::HcParseResult;

constexpr int kExitRuntimeError = 1;
constexpr int kExitUsage = 2;

// "heat calculator version 45, addresses 1, 2", or with a version for each address when they
// differ.
std::string DescribeDevices(const std::vector<emulators::HcConfig>& devices) {
    bool oneVersion = true;
    std::string addresses;
    for (const emulators::HcConfig& config : devices) {
        oneVersion = oneVersion && config.version == devices.front().version;
        addresses += (addresses.empty() ? "" : ", ") + std::to_string(config.address);
    }
    if (oneVersion) {
        return "heat calculator version " + std::to_string(devices.front().version) + ", address" +
               (devices.size() > 1 ? "es " : " ") + addresses;
    }
    std::string text = "heat calculators";
    for (const emulators::HcConfig& config : devices) {
        text += (config.address == devices.front().address ? ": address " : ", address ") +
                std::to_string(config.address) + " version " + std::to_string(config.version);
    }
    return text;
}

int RunHc(const emulators::HcRunOptions& run) {
    // Blocked before the line's thread starts, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    emulators::LineOptions lineOptions = run.line;
    if (run.verbose) {
        lineOptions.trace = [](const std::string& text) {
            std::fprintf(stderr, "%s %s\n", emulators::TraceTimestamp().c_str(), text.c_str());
        };
    }
    try {
        emulators::HcLine line(run.devices, lineOptions);
        for (const emulators::HcConfig& config : run.devices) {
            for (const emulators::Fault& fault : run.faults) {
                line.Device(config.address).InjectFault(fault);
            }
        }
        std::printf("%s\n", line.SlavePath().c_str());
        std::fflush(stdout);

        std::fprintf(stderr, "devemu: %s on %s%s%s\n", DescribeDevices(run.devices).c_str(),
                     line.SlavePath().c_str(), run.line.linkPath.empty() ? "" : " linked as ",
                     run.line.linkPath.c_str());

        emulators::WaitForSignal(signals, emulators::DurationDeadline(run.durationS));
        line.Stop();

        for (const emulators::HcConfig& config : run.devices) {
            const emulators::HcStats s = line.Device(config.address).Stats();
            std::fprintf(stderr,
                         "devemu: address %u: %u frames (%u reads, %u writes, %u bad), "
                         "%u commands\n",
                         config.address, s.framesReceived, s.readFrames, s.writeFrames, s.badFrames,
                         s.commands);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devemu: %s\n", e.what());
        return kExitRuntimeError;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << emulators::DevemuUsage();
        return kExitUsage;
    }
    const std::string& command = args.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << emulators::DevemuUsage();
        return 0;
    }
    if (command == "dump") {
        return emulators::DumpMain(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    if (command == "modem") {
        return emulators::RunModemCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    if (command == "upd") {
        return emulators::RunUpdCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    if (command != "hc") {
        std::cerr << "devemu: unknown emulator '" << command
                  << "' (available: hc, modem, upd, dump); see devemu --help\n";
        return kExitUsage;
    }
    const HcParseResult parsed =
        emulators::ParseHcArguments(std::vector<std::string>(args.begin() + 1, args.end()));
    switch (parsed.action) {
        case HcParseResult::Action::Help:
            std::cout << emulators::HcUsage();
            return 0;
        case HcParseResult::Action::Error:
            std::cerr << "devemu hc: " << parsed.message << "\n"
                      << "Run 'devemu hc --help' for the options.\n";
            return kExitUsage;
        case HcParseResult::Action::Run:
            break;
    }
    return RunHc(parsed.options);
}
