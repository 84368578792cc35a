// The УПД road: the real fenlor, started with the line of the shipped "_file.bat", downloads an
// archive from the emulated data transfer device on a line paced at 9600 baud into "dat", then
// the dump is converted in place as calvix converts it. The wall time (start of fenlor to the
// converted file) is set against the floor: fenlor's two set-up waits, 12 bits a byte of every
// command and reply, the device's turnaround, and the read interval T that ends each read of a
// 3-byte acknowledgement (a read asks for up to 20 bytes). CPU: fenlor's (one thread) and the
// conversion's; peak memory: fenlor's.
//
//   upd_read_bench FENLOR [HOURS]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/v60_floor.h"
#include "emulators/hc_device.h"
#include "emulators/upd_line.h"
#include "platform/ini_file.h"
#include "platform/process.h"
#include "protocol/tv540v60upd.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 3;
constexpr unsigned kBaud = 9600;
constexpr double kSetupWaits = 0.200 + 0.200;  // fenlor: before and after the port set-up
constexpr double kTurnaround = 0.002;          // the emulated device's answer delay
constexpr double kReplyTime = 0.200;           // T of "_file.bat": the read interval

// The fenlor line of the shipped command file, with "%1" (archive) and "%2" (port) filled in
// and the program replaced by `fenlor`.
std::vector<std::string> FenlorLine(const std::string& fenlor, const std::string& archive) {
    std::ifstream in(fs::path(CALVIX_SOURCE_DIR) / "site" / "_file.bat");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fenlor", 0) != 0) {
            continue;
        }
        std::vector<std::string> args = platform::SplitCommandLine(line);
        args[0] = fenlor;
        for (std::string& arg : args) {
            arg = arg == "%1" ? archive : arg == "%2" ? std::to_string(kPort) : arg;
        }
        return args;
    }
    return {};
}

double FloorSeconds(const emulators::UpdStats& stats) {
    const unsigned replies20 = stats.entriesSent + stats.blocksSent;
    const unsigned acknowledgements = stats.requests - replies20;
    const unsigned bytes = stats.requests * 5 + replies20 * 20 + acknowledgements * 3;
    return kSetupWaits + bytes * 12.0 / kBaud + stats.requests * kTurnaround +
           acknowledgements * kReplyTime;
}

// fenlor's run: its figures from the kernel, read before it is reaped.
struct Download {
    bool ok = false;
    double runQueue = 0;  // s
    rusage usage{};
};

Download RunFenlor(const std::vector<std::string>& command, const fs::path& folder,
                   const std::string& port) {
    Download run;
    const std::vector<std::string> env = {"CALVIX_COM" + std::to_string(kPort) + "=" + port};
    const pid_t fenlor = testsupport::Spawn(command, folder / "fenlor.out", env, folder);
    int status = 0;
    const bool ended = fenlor > 0 && bench::WaitUnreaped(fenlor);
    run.runQueue = ended ? bench::ProcessRunQueueSeconds(fenlor) : 0;
    run.ok = ended && ::wait4(fenlor, &status, 0, &run.usage) == fenlor &&
             fs::exists(folder / command[6]);
    if (!run.ok) {
        std::ifstream printed(folder / "fenlor.out");
        std::string text((std::istreambuf_iterator<char>(printed)), {});
        std::fprintf(stderr, "fenlor did not download the archive; it printed:\n%s\n",
                     text.substr(text.size() > 400 ? text.size() - 400 : 0).c_str());
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: upd_read_bench FENLOR [HOURS]\n");
        return 2;
    }
    const unsigned hours = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 24;
    testsupport::ScratchFolder folder;
    emulators::HcConfig device;
    device.version = 60;
    device.seed = 3;
    device.hourlyRecords = hours;
    const std::vector<emulators::UpdArchive> archives = {
        emulators::MakeUpdArchive("UZEL 1", device), emulators::MakeUpdArchive("UZEL 2", device)};
    emulators::UpdLineOptions options;
    options.baud = kBaud;
    emulators::UpdLine line(archives, {}, options);
    std::set<long> lineThreads = bench::Tasks();
    lineThreads.erase(::gettid());

    // Absolute: fenlor starts in the working folder.
    const std::vector<std::string> command = FenlorLine(fs::absolute(argv[1]).string(), "2");
    if (command.size() != 7) {
        std::fprintf(stderr, "no fenlor line in site/_file.bat\n");
        return 1;
    }
    const fs::path dat = folder.Path() / command[6];
    const double lineQueueBefore = bench::RunQueueSeconds(lineThreads);
    const auto start = Clock::now();
    const Download download = RunFenlor(command, folder.Path(), line.SlavePath());
    if (!download.ok) {
        return 1;
    }
    const auto downloaded = Clock::now();
    const std::uintmax_t size = fs::file_size(dat);
    protocol::CTV540v60Upd converter;
    const double cpuBefore = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
    const bool converted = converter.ConvertDump(dat, platform::IniFile{});
    const double conversionCpu = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
    const auto end = Clock::now();
    if (!converted) {
        std::fprintf(stderr, "the dump was not converted\n");
        return 1;
    }
    const double wall = std::chrono::duration<double>(end - start).count();
    const double conversion = std::chrono::duration<double>(end - downloaded).count();
    const double lineQueue = bench::RunQueueSeconds(lineThreads) - lineQueueBefore;
    const emulators::UpdStats stats = line.Stats();
    const double floor = FloorSeconds(stats);
    const double cpu = bench::CpuSeconds(download.usage) + conversionCpu;

    std::printf("УПД archive 2 of 2 (%ju bytes, %u blocks) by fenlor at 9600 baud, converted\n",
                size, stats.blocksSent);
    std::printf("  wall time             %.3f s (conversion %.1f ms)\n", wall, 1000 * conversion);
    std::printf("  floor                 %.3f s\n", floor);
    std::printf("  wall / floor          %.3f\n", wall / floor);
    std::printf("  CPU (fenlor + conv.)  %.3f s (%.2f %% of wall)\n", cpu, 100.0 * cpu / wall);
    std::printf("  peak memory (fenlor)  %ld KiB\n", download.usage.ru_maxrss);
    std::printf("  waited for a CPU      fenlor %.3f s, emulated device %.3f s\n",
                download.runQueue, lineQueue);
    bench::Emit("upd.ratio", wall / floor, "");
    bench::Emit("upd.wall", wall, "s");
    bench::Emit("upd.floor", floor, "s");
    bench::Emit("upd.cpu", 100.0 * cpu / wall, "%");
    bench::Emit("upd.wait_reading", download.runQueue, "s");
    bench::Emit("upd.wait_device", lineQueue, "s");
    bench::Emit("upd.rss", bench::MB(download.usage.ru_maxrss), "MB");
    bench::Emit("upd.conversion", 1000 * conversion, "ms");
    return 0;
}
