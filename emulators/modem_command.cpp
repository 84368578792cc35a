#include "emulators/modem_command.h"
#include "emulators/emulator_support.h"
#include "emulators/trace_time.h"

#include <pthread.h>
#include <signal.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>

#include "emulators/hc_line.h"

namespace emulators {
namespace {

// Placeholder in plans for the heat calculator that --hc starts.
constexpr const char* kHeatCalculatorPeer = "hc";

std::optional<unsigned> ParseNumber(std::string_view text, unsigned max) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<DialOutcome> ParseOutcome(std::string_view text) {
    const std::pair<std::string_view, DialOutcome> outcomes[] = {
        {"connect", DialOutcome::Connect},        {"busy", DialOutcome::Busy},
        {"no-answer", DialOutcome::NoAnswer},     {"no-carrier", DialOutcome::NoCarrier},
        {"no-dialtone", DialOutcome::NoDialTone}, {"error", DialOutcome::Error},
        {"silence", DialOutcome::Silence},
    };
    for (const auto& [name, outcome] : outcomes) {
        if (text == name) {
            return outcome;
        }
    }
    return std::nullopt;
}

// OUTCOME[,rate=R][,delay=MS][,peer=P]
std::optional<DialPlan> ParsePlan(std::string_view text, std::string& error) {
    DialPlan plan;
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            comma = text.size();
        }
        const std::string_view part = text.substr(start, comma - start);
        start = comma + 1;
        if (first) {
            first = false;
            const std::optional<DialOutcome> outcome = ParseOutcome(part);
            if (!outcome) {
                error = "unknown outcome '" + std::string(part) +
                        "' (connect, busy, no-answer, no-carrier, no-dialtone, error, silence)";
                return std::nullopt;
            }
            plan.outcome = *outcome;
            continue;
        }
        const std::size_t equals = part.find('=');
        const std::string_view key = part.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : part.substr(equals + 1);
        if (key == "rate") {
            const auto rate = ParseNumber(value, 1000000);
            if (!rate || *rate == 0) {
                error = "bad rate in '" + std::string(text) + "'";
                return std::nullopt;
            }
            plan.rate = *rate;
        } else if (key == "delay") {
            const auto delay = ParseNumber(value, 600000);
            if (!delay) {
                error = "bad delay in '" + std::string(text) + "'";
                return std::nullopt;
            }
            plan.delayMs = *delay;
        } else if (key == "peer" && !value.empty()) {
            plan.peer = std::string(value);
        } else {
            error = "unknown part '" + std::string(part) + "' (rate=, delay=, peer=)";
            return std::nullopt;
        }
    }
    return plan;
}

// A stored profile holds settings only: E V Q W X L M &C &D S<n>=<v>.
bool IsProfile(std::string_view text) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        return i > from;
    };
    while (i < text.size()) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
        if (std::string_view("EVQWXLM").find(c) != std::string_view::npos) {
            digits();
        } else if (c == '&' && i < text.size() &&
                   (std::toupper(static_cast<unsigned char>(text[i])) == 'C' ||
                    std::toupper(static_cast<unsigned char>(text[i])) == 'D')) {
            ++i;
            digits();
        } else if (c == 'S') {
            if (!digits() || i >= text.size() || text[i++] != '=' || !digits()) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

ModemParseResult ParseModemArguments(const std::vector<std::string>& args) {
    ModemParseResult result;
    ModemRunOptions& run = result.options;
    auto fail = [&result](std::string message) {
        result.action = ModemParseResult::Action::Error;
        result.message = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "--help" || name == "-h") {
            result.action = ModemParseResult::Action::Help;
            return result;
        }
        if (name == "--hc") {
            run.heatCalculator = true;
            continue;
        }
        if (name == "--verbose") {
            run.verbose = true;
            continue;
        }
        if (name == "--no-dtr") {
            run.modem.dtrWired = false;
            continue;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return fail(name + " needs a value");
            }
            value = args[++i];
        }
        std::string error;
        if (name == "--number") {
            const auto equals = value->find('=');
            if (equals == std::string::npos || equals == 0) {
                return fail("--number wants NUMBER=OUTCOME[,rate=R][,delay=MS][,peer=P]");
            }
            const std::optional<DialPlan> plan = ParsePlan(value->substr(equals + 1), error);
            if (!plan) {
                return fail(error);
            }
            run.modem.numbers[value->substr(0, equals)] = *plan;
        } else if (name == "--other") {
            const std::optional<DialPlan> plan = ParsePlan(*value, error);
            if (!plan) {
                return fail(error);
            }
            run.modem.otherNumbers = *plan;
        } else if (name == "--peer") {
            run.modem.defaultPeer = *value;
        } else if (name == "--hc-address") {
            const auto address = ParseNumber(*value, 255);
            if (!address || *address == 0) {
                return fail("--hc-address wants 1..255");
            }
            run.heatCalculator = true;
            run.heatCalculatorConfig.address = static_cast<std::uint8_t>(*address);
        } else if (name == "--guard" || name == "--answer-delay" || name == "--answer-rate" ||
                   name == "--duration") {
            const auto number = ParseNumber(*value, 10000000);
            if (!number) {
                return fail("bad number for " + name + ": " + *value);
            }
            if (name == "--guard") {
                run.modem.guardMs = *number;
            } else if (name == "--answer-delay") {
                run.modem.answerDelayMs = *number;
            } else if (name == "--answer-rate") {
                run.modem.answerRate = *number;
            } else {
                run.durationS = *number;
            }
        } else if (name == "--fault") {
            if (*value == "silent") {
                run.modem.fault = CommandFault::Silent;
            } else if (*value == "garbage") {
                run.modem.fault = CommandFault::Garbage;
            } else {
                return fail("unknown --fault '" + *value + "' (silent, garbage)");
            }
        } else if (name == "--profile") {
            if (!IsProfile(*value)) {
                return fail("--profile wants settings such as V0, Q1, E1, W1, S2=255, &D0");
            }
            run.modem.profile = *value;
        } else if (name == "--reset-delay") {
            const auto delay = ParseNumber(*value, 600000);
            if (!delay) {
                return fail("bad number for --reset-delay: " + *value);
            }
            run.modem.resetDelayMs = *delay;
        } else if (name == "--refuse") {
            if (value->empty()) {
                return fail("--refuse wants a command, e.g. X4");
            }
            std::string upper;
            for (char c : *value) {
                upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            run.modem.refused.push_back(upper);
        } else if (name == "--link") {
            run.modem.linkPath = *value;
        } else {
            return fail("unknown option " + name);
        }
    }
    bool wantsHc = run.modem.defaultPeer == kHeatCalculatorPeer ||
                   run.modem.otherNumbers.peer == kHeatCalculatorPeer;
    for (const auto& [number, plan] : run.modem.numbers) {
        wantsHc = wantsHc || plan.peer == kHeatCalculatorPeer;
    }
    if (wantsHc && !run.heatCalculator) {
        return fail("peer 'hc' needs --hc");
    }
    if (run.heatCalculator && run.modem.defaultPeer == kEchoPeer) {
        run.modem.defaultPeer = kHeatCalculatorPeer;
    }
    result.action = ModemParseResult::Action::Run;
    return result;
}

std::string ModemUsage() {
    return "Usage: devemu modem [options]\n"
           "\n"
           "A Hayes AT modem on a pseudo-terminal. The first line on standard output is its\n"
           "path; point a COM port at it (CALVIX_COM3=/dev/pts/N) and name that port in\n"
           "TARVEX_MODEMS (e.g. TARVEX_MODEMS=COM3). It knows AT, ATZ, ATE0/1, ATV, ATQ, ATS,\n"
           "ATX, ATW, AT&C, AT&D, AT&F, ATD, ATA, ATH, ATO and \"+++\" with the guard time.\n"
           "DTR is the client's line speed: setting it to B0 (the termios hang-up) lowers DTR;\n"
           "with &D2 (factory) that hangs up a call.\n"
           "\n"
           "Options:\n"
           "  --number NUMBER=PLAN  what dialling NUMBER gives; repeatable\n"
           "  --other PLAN          what every other number gives (default: connect)\n"
           "      PLAN = OUTCOME[,rate=R][,delay=MS][,peer=P]\n"
           "      OUTCOME: connect, busy, no-answer, no-carrier, no-dialtone, error, silence\n"
           "      rate: the rate in CONNECT (9600); delay: dial to result, ms (100);\n"
           "      peer: where the call leads: echo, hc, or the path of a serial device\n"
           "  --hc                  start a heat calculator (address 1, version 45) on a line of\n"
           "                        its own; it becomes the default peer\n"
           "  --hc-address N        its address (implies --hc)\n"
           "  --peer P              the default peer (echo, or hc with --hc)\n"
           "  --guard MS            escape guard time (1000)\n"
           "  --answer-delay MS     ATA to CONNECT (100)\n"
           "  --answer-rate R       the rate of answered calls (9600)\n"
           "  --fault silent|garbage  answer commands with nothing or with noise\n"
           "  --profile SETTINGS    the stored profile that power-on and ATZ restore, e.g.\n"
           "                        V0 (numeric results), Q1 (no results), E1, W0 (CONNECT\n"
           "                        gives the port rate), W1 (CARRIER and PROTOCOL lines too),\n"
           "                        S2=255 (\"+++\" ignored: only DTR hangs up), &D0\n"
           "  --reset-delay MS      ATZ takes this long (0)\n"
           "  --refuse COMMAND      answer ERROR to a command line holding it, e.g. X4;\n"
           "                        repeatable\n"
           "  --no-dtr              the cable has no DTR wire: DTR drops go unseen\n"
           "  --link PATH           make PATH a symbolic link to the line\n"
           "  --duration SECONDS    exit after that long (0 = until stopped)\n"
           "  --verbose             trace commands and results on standard error\n"
           "\n"
           "Signals: SIGUSR1 rings the line 5 times, 3 s apart (an incoming call; ATA answers\n"
           "it and it leads to the default peer); SIGUSR2 hangs up from the far end;\n"
           "SIGINT or SIGTERM switch the modem off and end the program.\n";
}

int RunModemCommand(const std::vector<std::string>& args) {
    const ModemParseResult parsed = ParseModemArguments(args);
    if (parsed.action == ModemParseResult::Action::Help) {
        std::cout << ModemUsage();
        return 0;
    }
    if (parsed.action == ModemParseResult::Action::Error) {
        std::cerr << "devemu modem: " << parsed.message << "\n"
                  << "Run 'devemu modem --help' for the options.\n";
        return 2;
    }
    ModemRunOptions run = parsed.options;

    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (run.verbose) {
        run.modem.trace = [](const std::string& text) {
            std::fprintf(stderr, "%s %s\n", emulators::TraceTimestamp().c_str(), text.c_str());
        };
    }
    try {
        std::unique_ptr<HcLine> heatCalculator;
        if (run.heatCalculator) {
            heatCalculator =
                std::make_unique<HcLine>(std::vector<HcConfig>{run.heatCalculatorConfig});
            auto resolve = [&](std::string& peer) {
                if (peer == kHeatCalculatorPeer) {
                    peer = heatCalculator->SlavePath();
                }
            };
            resolve(run.modem.defaultPeer);
            resolve(run.modem.otherNumbers.peer);
            for (auto& [number, plan] : run.modem.numbers) {
                resolve(plan.peer);
            }
        }
        ModemEmulator modem(run.modem);
        std::printf("%s\n", modem.SlavePath().c_str());
        std::fflush(stdout);
        std::fprintf(
            stderr, "devemu: modem on %s%s%s%s\n", modem.SlavePath().c_str(),
            run.modem.linkPath.empty() ? "" : " linked as ", run.modem.linkPath.c_str(),
            heatCalculator ? (", heat calculator on " + heatCalculator->SlavePath()).c_str() : "");
        const auto deadline = DurationDeadline(run.durationS);
        for (;;) {
            const int signal = WaitForSignal(signals, deadline);
            if (signal == SIGUSR1) {
                modem.Ring(5, 3000);
            } else if (signal == SIGUSR2) {
                modem.HangUpFarEnd();
            } else {
                break;
            }
        }
        modem.Stop();  // the line closes: to the client the modem is switched off
        const ModemStats stats = modem.Stats();
        std::fprintf(stderr,
                     "devemu: modem: %zu commands, %zu dials, %u connections, %u rings, %u "
                     "hang-ups by DTR, %u by ATH\n",
                     stats.commands.size(), stats.dialled.size(), stats.connects, stats.ringsSent,
                     stats.dtrHangUps, stats.hangUps);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devemu: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace emulators
