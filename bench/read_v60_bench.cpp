// A complete version-60 reading (clock, parameters, 62 days, 24 months and the hourly archive)
// over a pseudo-terminal paced at 9600 baud, against the floor the protocol sets; then the time
// to convert a dump of about 1 MB. With "rfc2217" the port is a real ser2net (Telnet COM-port
// control) serving the emulator's pseudo-terminal on loopback, and the conversion is left out.
//
//   read_v60_bench [HOURS] [rfc2217]
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/v60_floor.h"
#include "emulators/hc_line.h"
#include "emulators/hc_upd_dump.h"
#include "platform/ini_file.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/serial_link.h"
#include "protocol/tv540v60.h"
#include "protocol/tv540v60upd.h"
#include "tests/support/ser2net_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using bench::kAnswerDelayMs;
using bench::kBaud;

emulators::HcConfig Device(unsigned hours) {
    emulators::HcConfig config;
    config.version = 60;
    config.seed = 3;
    config.hourlyRecords = hours;
    config.answerDelayMs = kAnswerDelayMs;
    return config;
}

// User and system CPU of another process in seconds, from /proc/<pid>/stat.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');  // the name may hold blanks
    unsigned long user = 0, system = 0;
    if (end == std::string::npos ||
        std::sscanf(text.c_str() + end + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                    &user, &system) != 2) {
        return -1;
    }
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned hours = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 48;
    const bool network = argc > 2 && std::string(argv[2]) == "rfc2217";
    const std::string road = network ? "v60net" : "v60";
    const auto name = [&road](const char* measure) { return road + "." + measure; };
    const fs::path folder =
        fs::temp_directory_path() / ("read-v60-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);

    emulators::LineOptions options;
    options.baud = kBaud;
    emulators::HcLine line({Device(hours)}, options);
    ::setenv("CALVIX_COM1", line.SlavePath().c_str(), 1);
    std::optional<testsupport::Ser2netServer> server;
    if (network) {
        server.emplace(line.SlavePath(), testsupport::Ser2netServer::Mode::kRfc2217);
        ::setenv("CALVIX_COM1", server->Url().c_str(), 1);
    }

    platform::DeviceControl dcb;
    auto port = protocol::OpenDevicePort("COM1", kBaud, dcb);
    if (!port) {
        std::fprintf(stderr, "cannot open the emulated port\n");
        return 1;
    }
    protocol::SerialLink serialLink(*port, dcb);
    protocol::CTV540v60 link(1, serialLink, 3, 50);
    protocol::SilentProgress progress;
    platform::IniFile settings;

    std::set<long> lineThreads = bench::Tasks();  // the emulated line's
    lineThreads.erase(::gettid());
    const double lineQueueBefore = bench::RunQueueSeconds(lineThreads);
    const double queueBefore = bench::RunQueueSeconds();
    const double cpuBefore = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double serverCpuBefore = server ? ProcessCpuSeconds(server->Pid()) : 0;
    const auto start = Clock::now();
    {
        auto file = protocol::DataFile::Create(folder / "dat1hc");
        link.ReadVersion60(*file, true, progress, settings);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
    const double queue = bench::RunQueueSeconds() - queueBefore;
    const double lineQueue = bench::RunQueueSeconds(lineThreads) - lineQueueBefore;
    const double serverCpu = server ? ProcessCpuSeconds(server->Pid()) - serverCpuBefore : 0;

    const emulators::HcStats device = line.Device(1).Stats();
    const emulators::LineStats wire = line.Stats();
    const unsigned frames = device.readFrames + device.writeFrames;
    const double floor = bench::ReadingFloorSeconds(device, wire);

    std::printf("version-60 reading, %u hours, 9600 baud paced%s\n", hours,
                network ? ", through ser2net (rfc2217, loopback)" : "");
    std::printf("  exchanges             %u (%u commands), %u bytes out, %u bytes in\n", frames,
                device.commands, wire.bytesReceived, wire.bytesSent);
    std::printf("  wall time             %.3f s\n", wall);
    std::printf("  floor                 %.3f s\n", floor);
    std::printf("  wall / floor          %.3f\n", wall / floor);
    std::printf("  CPU (reading thread)  %.3f s (%.2f %% of wall)\n", cpu, 100.0 * cpu / wall);
    std::printf("  waited for a CPU      reading thread %.3f s, emulated line %.3f s\n", queue,
                lineQueue);
    bench::Emit(name("ratio").c_str(), wall / floor, "");
    bench::Emit(name("wall").c_str(), wall, "s");
    bench::Emit(name("floor").c_str(), floor, "s");
    bench::Emit(name("cpu").c_str(), 100.0 * cpu / wall, "%");
    bench::Emit(name("wait_reading").c_str(), queue, "s");
    bench::Emit(name("wait_device").c_str(), lineQueue, "s");
    bench::Emit(name("rss").c_str(), bench::MB(bench::StatusKiB("VmHWM")), "MB");
    if (server) {
        std::printf("  CPU (ser2net)         %.3f s (%.2f %% of wall)\n", serverCpu,
                    100.0 * serverCpu / wall);
        bench::Emit("v60net.server_cpu", 100.0 * serverCpu / wall, "%");
        fs::remove_all(folder);
        return 0;
    }

    // A dump of about 1 MB: many hours, padded to just under the limit.
    emulators::HcDevice big(Device(14000));
    emulators::UpdDumpOptions dumpOptions;
    dumpOptions.padTo = protocol::kMaxDumpSize;
    const std::vector<std::uint8_t> dump = emulators::MakeUpdDump(big, dumpOptions);
    std::vector<double> times;
    for (int run = 0; run < 7; ++run) {
        const fs::path dat = folder / "dat";
        emulators::WriteUpdDump(big, dat.string(), dumpOptions);
        protocol::CTV540v60Upd converter;
        const auto t0 = Clock::now();
        const bool converted = converter.ConvertDump(dat, settings);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (!converted) {
            std::fprintf(stderr, "the dump was not converted\n");
            return 1;
        }
    }
    emulators::UpdDumpOptions recordsOnly;
    recordsOnly.padding = emulators::DumpPadding::None;
    const std::size_t records = emulators::MakeUpdDump(big, recordsOnly).size();
    std::sort(times.begin(), times.end());
    std::printf(
        "dump conversion, %zu bytes (%zu of records): median %.1f ms (min %.1f, max %.1f)\n",
        dump.size(), records, times[times.size() / 2], times.front(), times.back());
    bench::Emit("conversion.ms", bench::Median(times), "ms");
    bench::Emit("conversion.bytes", static_cast<double>(dump.size()), "B");
    fs::remove_all(folder);
    return 0;
}
