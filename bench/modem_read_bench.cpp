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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: modem_read_bench LIBTARVEX [HOURS]\n");
        return 2;
    }
    const unsigned hours = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 24;
    bench::ScratchFolder folder("modem-read-bench");
    fs::create_directories(folder.Path() / "hc");
    fs::copy_file(fs::path(CALVIX_SOURCE_DIR) / "site" / "calvix.ini",
                  folder.Path() / "calvix.ini");
    calvix::Configuration config(folder.Path() / "calvix.ini");
    config.LoadConnectionSettings(calvix::WorkState::stHCReports);
    reading::ReadSettings settings = calvix::MakeReadSettings(config, true, false);
    settings.useModem = true;
    settings.portName = "COM" + std::to_string(kModemPort);
    settings.phoneNumber = kNumber;

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
            programThreads.Sample();
            lock.lock();
        }
    }
    programThreads.Sample();
    worker.Join();
    const double wall = std::chrono::duration<double>(end.at - start).count();

    const emulators::HcStats device =
        line.Device(static_cast<std::uint8_t>(settings.abonent)).Stats();
    const emulators::LineStats wire = line.Stats();
    const double hangUp = std::chrono::duration<double>(telephony::LineTimings{}.dtrDrop).count();
    const double floor =
        bench::ReadingFloorSeconds(device, wire, false) + kDialMs / 1000.0 + hangUp;
    const double libraryCpu = programThreads.Total() - end.readingCpu;
    const long peak = bench::StatusKiB("VmHWM");
    const double emulatorQueue = bench::RunQueueSeconds(emulatorThreads) - emulatorQueueBefore;

    std::printf("version-60 reading by the worker through libtarvex.so and a modem, %u hours: %s\n",
                hours, end.succeeded ? "succeeded" : "FAILED");
    std::printf("  exchanges             %u (%u commands), %u bytes out, %u bytes in\n",
                device.readFrames + device.writeFrames, device.commands, wire.bytesReceived,
                wire.bytesSent);
    std::printf("  wall time             %.3f s (dial %.3f s and hang-up %.3f s included)\n", wall,
                kDialMs / 1000.0, hangUp);
    std::printf("  floor                 %.3f s\n", floor);
    std::printf("  wall / floor          %.3f\n", wall / floor);
    std::printf("  CPU (reading thread)  %.3f s (%.2f %% of wall)\n", end.readingCpu,
                100.0 * end.readingCpu / wall);
    std::printf("  CPU (library threads) %.3f s (%.2f %% of wall, %zu threads with the worker)\n",
                libraryCpu, 100.0 * libraryCpu / wall, programThreads.Count());
    std::printf("  waited for a CPU      reading thread %.3f s, emulators %.3f s\n",
                end.readingQueue, emulatorQueue);
    std::printf("  peak resident set     %ld KiB (the emulators' included)\n", peak);
    if (!end.succeeded) {
        return 1;
    }
    bench::Emit("modem.ratio", wall / floor, "");
    bench::Emit("modem.wall", wall, "s");
    bench::Emit("modem.floor", floor, "s");
    bench::Emit("modem.cpu", 100.0 * end.readingCpu / wall, "%");
    bench::Emit("modem.library_cpu", 100.0 * libraryCpu / wall, "%");
    bench::Emit("modem.wait_reading", end.readingQueue, "s");
    bench::Emit("modem.wait_device", emulatorQueue, "s");
    bench::Emit("modem.rss", bench::MB(peak), "MB");
    return 0;
}
