// Measures quellar against the emulated heat calculator on a line paced at 9600 baud, and
// compares the wall time with the floor the protocol itself sets: the fixed waits, 11 bits a
// byte of every request and answer, and the emulator's answer delay.
//
//   quellar_bench QUELLAR DEVEMU [LINES]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/v60_floor.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::Spawn;

constexpr int kBaud = 9600;
constexpr int kStatusZeroPolls = 1;  // each mailbox line sees one "not yet" answer
constexpr int kAnswerDelayMs = 2;    // emulator turnaround, passed to devemu
constexpr int kAddressPauseMs = 10;  // quellar: address byte -> rest of the request
constexpr int kStatusPollMs = 100;   // quellar: between reads of a status-0 answer
constexpr int kAnswerLength = 48;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quellar_bench QUELLAR DEVEMU [LINES]\n");
        return 2;
    }
    const int lines = (argc > 3 ? std::atoi(argv[3]) : 60) / 2 * 2;
    const fs::path folder =
        fs::temp_directory_path() / ("quellar-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path link = folder / "COM1";
    const fs::path list = folder / "bench.opr";
    {
        std::ofstream out(list, std::ios::binary);
        out << "HO_START 255 0 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31\r\n";
        // Mailbox lines in pairs: the first opens a record ("@" tags), the second continues it.
        for (int i = 0; i < lines; ++i) {
            char line[96];
            if (i % 2 == 0) {
                std::snprintf(line, sizeof line, "RA_P%d 40 1 %x %d @11 %d 36 101001 0\r\n", i,
                              i % 124, kAnswerLength, (i / 2) % 256);
            } else {
                std::snprintf(line, sizeof line, "RA_P%d 40 1 %x %d\r\n", i, i % 124,
                              kAnswerLength);
            }
            out << line;
        }
        out << "HO_STOP 255 1 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31\r\n";
    }

    const pid_t emulator = Spawn({argv[2], "hc", "--baud", std::to_string(kBaud), "--polls",
                                  std::to_string(kStatusZeroPolls), "--answer-delay",
                                  std::to_string(kAnswerDelayMs), "--link", link.string()},
                                 folder / "devemu.out");
    for (int i = 0; i < 200 && !fs::exists(link); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (emulator < 0 || !fs::exists(link)) {
        std::fprintf(stderr, "the emulator did not start\n");
        return 1;
    }

    const auto start = Clock::now();
    const pid_t quellar = Spawn({argv[1], "1", std::to_string(kBaud), "0", "200", "1",
                                 list.string(), (folder / "out.dat").string()},
                                folder / "quellar.out", {"CALVIX_COM1=" + link.string()});
    int status = 0;
    rusage usage{};
    bench::WaitUnreaped(quellar);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double queue = bench::ProcessRunQueueSeconds(quellar);
    const double emulatorQueue = bench::ProcessRunQueueSeconds(emulator);
    ::wait4(quellar, &status, 0, &usage);
    ::kill(emulator, SIGTERM);
    rusage emulatorUsage{};
    int emulatorStatus = 0;
    ::wait4(emulator, &emulatorStatus, 0, &emulatorUsage);

    // Per mailbox line: clear (7 -> 3 bytes), command (8 -> 3), answer reads (7 -> N + 5),
    // the first one and one re-read per status-0 poll, each re-read after a 100 ms wait.
    const int reads = 1 + kStatusZeroPolls;
    const int frames = 2 + reads;
    const int wireBytes = (7 + 3) + (8 + 3) + reads * (7 + kAnswerLength + 5);
    // The address byte of each request travels during the pause that follows it.
    const int overlappedBytes = frames;
    const double perLine = frames * (kAddressPauseMs + kAnswerDelayMs) / 1000.0 +
                           kStatusZeroPolls * kStatusPollMs / 1000.0 +
                           (wireBytes - overlappedBytes) * 11.0 / kBaud;
    const double floor = lines * perLine;
    const double cpu = bench::CpuSeconds(usage);
    const double emulatorCpu = bench::CpuSeconds(emulatorUsage);

    std::printf("quellar exit code       %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::printf("mailbox lines           %d (%d bytes on the wire each)\n", lines, wireBytes);
    std::printf("wall time               %.3f s\n", wall);
    std::printf("floor                   %.3f s\n", floor);
    std::printf("wall / floor            %.3f\n", wall / floor);
    std::printf("quellar CPU             %.3f s (%.2f %% of wall)\n", cpu, 100.0 * cpu / wall);
    std::printf("emulator CPU            %.3f s (%.2f %% of wall)\n", emulatorCpu,
                100.0 * emulatorCpu / wall);
    std::printf("peak memory (quellar)   %ld KiB\n", usage.ru_maxrss);
    std::printf("waited for a CPU        quellar %.3f s, emulator %.3f s\n", queue, emulatorQueue);
    fs::remove_all(folder);
    const bool succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (succeeded) {
        bench::Emit("quellar.ratio", wall / floor, "");
        bench::Emit("quellar.wall", wall, "s");
        bench::Emit("quellar.floor", floor, "s");
        bench::Emit("quellar.cpu", 100.0 * cpu / wall, "%");
        bench::Emit("quellar.wait_reading", queue, "s");
        bench::Emit("quellar.wait_device", emulatorQueue, "s");
        bench::Emit("quellar.rss", bench::MB(usage.ru_maxrss), "MB");
    }
    return succeeded ? 0 : 1;
}
