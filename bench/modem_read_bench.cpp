// The modem road: the reading worker, with the settings calvix takes from the shipped
// calvix.ini, reads a version-60 heat calculator (hourly archive too) through a modem call: the
// real libtarvex.so, loaded as calvix loads it, dials an emulated modem whose call leads to an
// emulated device on a line paced at 9600 baud. The wall time runs from the start to the
// worker's end (call placed and hung up) and is set against the floor: the device's wire time
// and waits, the dial's answer time and the hang-up's DTR drop. CPU: the reading thread and the
// modem library's threads (the line worker, the message thread).
//
//   modem_read_bench LIBTARVEX [HOURS]
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "bench/bench_support.h"
#include "bench/v60_floor.h"
#include "emulators/hc_line.h"
#include "emulators/modem_emulator.h"
#include "gui/rules/configuration.h"
#include "gui/rules/read_settings.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"
#include "telephony/line_timings.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kModemPort = 3;
constexpr unsigned kDialMs = 100;  // from the dial command to CONNECT
const char* const kNumber = "101";

emulators::HcConfig Device(long address, unsigned hours) {
    emulators::HcConfig config;
    config.version = 60;
    config.address = static_cast<std::uint8_t>(address);
    config.seed = 3;
    config.hourlyRecords = hours;
    config.answerDelayMs = bench::kAnswerDelayMs;
    return config;
}

struct End {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool succeeded = false;
    double readingCpu = 0;    // the worker's own CPU clock, read at its end
    double readingQueue = 0;  // and its run delay
    Clock::time_point at;
};

// What calvix hands the worker from the shipped calvix.ini, with the modem switched on.
reading::ReadSettings ModemSettings(const fs::path& folder) {
    fs::create_directories(folder / "hc");
    fs::copy_file(fs::path(CALVIX_SOURCE_DIR) / "site" / "calvix.ini", folder / "calvix.ini");
    calvix::Configuration config(folder / "calvix.ini");
    config.LoadConnectionSettings(calvix::WorkState::stHCReports);
    reading::ReadSettings settings = calvix::MakeReadSettings(config, true, false);
    settings.useModem = true;
    settings.portName = "COM" + std::to_string(kModemPort);
    settings.phoneNumber = kNumber;
    return settings;
}

// Runs the reading to its end; `threads` is sampled meanwhile. Returns the wall time.
double Read(const reading::ReadSettings& settings, const reading::ReadEnvironment& environment,
            End& end, bench::NewThreadsCpu& threads) {
    reading::ReadCallbacks callbacks;  // no main thread: every call runs on the worker
    callbacks.progress = [](const reading::ReadProgress&) { return false; };
    callbacks.finished = [&end](bool succeeded, const std::string&) {
        const double cpu = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double queue = bench::RunQueueSeconds();
        std::lock_guard lock(end.mutex);
        end.at = Clock::now();
        end.done = true;
        end.succeeded = succeeded;
        end.readingCpu = cpu;
        end.readingQueue = queue;
        end.cv.notify_all();
    };
    const auto start = Clock::now();
    workers::WorkerThread worker =
        reading::CThreadReadHCArchive::Start(settings, std::move(callbacks), environment);
    {
        std::unique_lock lock(end.mutex);
        while (!end.cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return end.done; })) {
            lock.unlock();
            threads.Sample();
            lock.lock();
        }
    }
    threads.Sample();
    worker.Join();
    return std::chrono::duration<double>(end.at - start).count();
}

struct Figures {
    double wall = 0, floor = 0, hangUp = 0;
    double libraryCpu = 0, emulatorQueue = 0;
    std::size_t threads = 0;
    long peakKiB = 0;
    emulators::HcStats device;
    emulators::LineStats wire;
};

int Report(unsigned hours, const End& end, const Figures& f) {
    std::printf("version-60 reading by the worker through libtarvex.so and a modem, %u hours: %s\n",
                hours, end.succeeded ? "succeeded" : "FAILED");
    std::printf("  exchanges             %u (%u commands), %u bytes out, %u bytes in\n",
                f.device.readFrames + f.device.writeFrames, f.device.commands, f.wire.bytesReceived,
                f.wire.bytesSent);
    std::printf("  wall time             %.3f s (dial %.3f s and hang-up %.3f s included)\n",
                f.wall, kDialMs / 1000.0, f.hangUp);
    std::printf("  floor                 %.3f s\n", f.floor);
    std::printf("  wall / floor          %.3f\n", f.wall / f.floor);
    std::printf("  CPU (reading thread)  %.3f s (%.2f %% of wall)\n", end.readingCpu,
                100.0 * end.readingCpu / f.wall);
    std::printf("  CPU (library threads) %.3f s (%.2f %% of wall, %zu threads with the worker)\n",
                f.libraryCpu, 100.0 * f.libraryCpu / f.wall, f.threads);
    std::printf("  waited for a CPU      reading thread %.3f s, emulators %.3f s\n",
                end.readingQueue, f.emulatorQueue);
    std::printf("  peak resident set     %ld KiB (the emulators' included)\n", f.peakKiB);
    if (!end.succeeded) {
        return 1;
    }
    bench::Emit("modem.ratio", f.wall / f.floor, "");
    bench::Emit("modem.wall", f.wall, "s");
    bench::Emit("modem.floor", f.floor, "s");
    bench::Emit("modem.cpu", 100.0 * end.readingCpu / f.wall, "%");
    bench::Emit("modem.library_cpu", 100.0 * f.libraryCpu / f.wall, "%");
    bench::Emit("modem.wait_reading", end.readingQueue, "s");
    bench::Emit("modem.wait_device", f.emulatorQueue, "s");
    bench::Emit("modem.rss", bench::MB(f.peakKiB), "MB");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: modem_read_bench LIBTARVEX [HOURS]\n");
        return 2;
    }
    const unsigned hours = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 24;
    testsupport::ScratchFolder folder;
    const reading::ReadSettings settings = ModemSettings(folder.Path());

    emulators::LineOptions lineOptions;
    lineOptions.baud = bench::kBaud;
    emulators::HcLine line({Device(settings.abonent, hours)}, lineOptions);
    emulators::ModemOptions modemOptions;  // a real guard time
    modemOptions.numbers[kNumber] = emulators::DialPlan{emulators::DialOutcome::Connect,
                                                        bench::kBaud, kDialMs, line.SlavePath()};
    emulators::ModemEmulator modem(modemOptions);
    ::setenv(("CALVIX_COM" + std::to_string(kModemPort)).c_str(), modem.SlavePath().c_str(), 1);
    ::setenv("TARVEX_MODEMS", settings.portName.c_str(), 1);

    std::set<long> emulatorThreads = bench::Tasks();
    emulatorThreads.erase(::gettid());
    const double emulatorQueueBefore = bench::RunQueueSeconds(emulatorThreads);
    bench::NewThreadsCpu programThreads;  // from here on: the library's threads and the worker
    const std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex(argv[1]);
    if (!library->Loaded()) {
        std::fprintf(stderr, "%s\n", library->LoadError().c_str());
        return 1;
    }
    reading::ReadEnvironment environment;
    environment.workFolder = folder.Path();
    environment.modem = library.get();

    End end;
    Figures f;
    f.wall = Read(settings, environment, end, programThreads);
    f.device = line.Device(static_cast<std::uint8_t>(settings.abonent)).Stats();
    f.wire = line.Stats();
    f.hangUp = std::chrono::duration<double>(telephony::LineTimings{}.dtrDrop).count();
    f.floor = bench::ReadingFloorSeconds(f.device, f.wire, false) + kDialMs / 1000.0 + f.hangUp;
    f.libraryCpu = programThreads.Total() - end.readingCpu;
    f.threads = programThreads.Count();
    f.peakKiB = bench::StatusKiB("VmHWM");
    f.emulatorQueue = bench::RunQueueSeconds(emulatorThreads) - emulatorQueueBefore;
    return Report(hours, end, f);
}
