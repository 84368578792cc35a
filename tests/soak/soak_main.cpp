// soak ROAD [--runs N] [--minutes M] [--rate R] [--seed S] [--baud B] [--hours H] [--keep-line]
//      [--verbose]
// Runs one road N times (no new run after M minutes) with random faults and prints each BAD run
// and, after every run, the summary so far:
//   SOAK road=R runs=N right=A clean=B bad=C seconds=T
// Exit status 0 when no run was BAD, 1 otherwise, 2 for bad arguments or a failed reference.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "platform/codepage.h"
#include "tests/soak/soak_road.h"

namespace {

struct Arguments {
    std::string road;
    unsigned runs = 100;
    unsigned minutes = 0;  // 0: no time budget
    double rate = 0.02;
    unsigned seed = 1;
    bool keepLine = false;
    bool verbose = false;
    soak::SoakSettings settings;
};

bool Parse(int argc, char** argv, Arguments& arguments) {
    if (argc < 2) {
        return false;
    }
    arguments.road = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--keep-line") {
            arguments.keepLine = true;
            continue;
        }
        if (option == "--verbose") {
            arguments.verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (option == "--runs") {
            arguments.runs = static_cast<unsigned>(std::stoul(value));
        } else if (option == "--minutes") {
            arguments.minutes = static_cast<unsigned>(std::stoul(value));
        } else if (option == "--rate") {
            arguments.rate = std::stod(value);
        } else if (option == "--seed") {
            arguments.seed = static_cast<unsigned>(std::stoul(value));
        } else if (option == "--baud") {
            arguments.settings.baud = static_cast<unsigned>(std::stoul(value));
        } else if (option == "--hours") {
            arguments.settings.hourlyRecords = static_cast<unsigned>(std::stoul(value));
        } else {
            return false;
        }
    }
    return true;
}

const char* Name(soak::Verdict verdict) {
    switch (verdict) {
        case soak::Verdict::Right:
            return "right";
        case soak::Verdict::CleanFailure:
            return "clean";
        case soak::Verdict::Bad:
            return "BAD";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    arguments.settings.quellar = QUELLAR_PATH;
    arguments.settings.fenlor = FENLOR_PATH;
    arguments.settings.tarvex = TARVEX_LIBRARY_PATH;
    arguments.settings.siteFolder = std::string(CALVIX_SOURCE_DIR) + "/site";
    try {
        if (!Parse(argc, argv, arguments)) {
            std::cerr
                << "usage: soak quellar|gui60|gui53|modem|upd [--runs N] [--minutes M] [--rate R] "
                   "[--seed S] [--baud B] [--hours H] [--keep-line] [--verbose]\n";
            return 2;
        }
    } catch (const std::exception&) {
        std::cerr << "soak: bad number\n";
        return 2;
    }
    std::unique_ptr<soak::Road> road = soak::MakeRoad(arguments.road, arguments.settings);
    if (road == nullptr) {
        std::cerr << "soak: unknown road " << arguments.road << "\n";
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        road->Prepare();
    } catch (const std::exception& e) {
        std::cerr << "soak: " << platform::Cp1251ToUtf8(e.what()) << "\n";
        return 2;
    }
    soak::FaultMix mix{arguments.rate, !arguments.keepLine};
    std::mt19937 random(arguments.seed);
    std::map<soak::Verdict, unsigned> counts;
    std::map<std::string, unsigned> details;
    const auto budget = std::chrono::minutes(arguments.minutes);
    const auto summary = [&](unsigned runs) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - start);
        std::cout << "SOAK road=" << arguments.road << " runs=" << runs
                  << " right=" << counts[soak::Verdict::Right]
                  << " clean=" << counts[soak::Verdict::CleanFailure]
                  << " bad=" << counts[soak::Verdict::Bad] << " seconds=" << seconds.count()
                  << std::endl;
    };
    unsigned run = 0;
    while (run < arguments.runs &&
           (arguments.minutes == 0 || std::chrono::steady_clock::now() - start < budget)) {
        ++run;
        std::string faults;
        const soak::RunResult result = road->Run(random, mix, faults);
        ++counts[result.verdict];
        std::string detail = platform::Cp1251ToUtf8(result.detail);
        for (std::size_t at = detail.find("\r\n"); at != std::string::npos;
             at = detail.find("\r\n", at)) {
            detail.replace(at, 2, " / ");
        }
        if (result.verdict != soak::Verdict::Bad) {
            ++details[std::string(Name(result.verdict)) + ": " + (detail.empty() ? "-" : detail)];
        }
        if (arguments.verbose || result.verdict == soak::Verdict::Bad) {
            std::cout << arguments.road << " seed " << arguments.seed << " run " << run << ": "
                      << Name(result.verdict) << " [" << faults << "] " << detail << std::endl;
        }
        summary(run);  // so far: a shard stopped from outside still counts
    }
    for (const auto& [detail, count] : details) {
        std::cout << "  " << count << " x " << detail << "\n";
    }
    summary(run);
    return counts[soak::Verdict::Bad] == 0 ? 0 : 1;
}
