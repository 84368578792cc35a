// A complete version-60 reading through the main window (read button, question, wait window) and
// its reading worker, over a pseudo-terminal paced at 9600 baud: the wall time against the floor
// the protocol sets, the reading thread's share of the CPU, and the longest time the GUI thread
// went without serving its event loop (a 1 ms timer on that thread measures the gaps).
//
//   gui_read_bench [HOURS]
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "bench/bench_support.h"
#include "bench/v60_floor.h"
#include "emulators/hc_line.h"
#include "gui/calvix_app.h"
#include "gui/caption_panel.h"
#include "gui/dialog_service.h"
#include "gui/unitmainform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kAddress = 3;  // the shipped calvix.ini's "абонент"
using bench::ClockSeconds;
using bench::kAnswerDelayMs;
using bench::kBaud;
using bench::RunQueueSeconds;
using bench::TaskFile;
using bench::Tasks;
using bench::ThreadCpuClock;

emulators::HcConfig Device(unsigned hours) {
    emulators::HcConfig config;
    config.version = 60;
    config.address = kAddress;
    config.seed = 3;
    config.hourlyRecords = hours;
    config.answerDelayMs = kAnswerDelayMs;
    return config;
}

template <class T = QWidget>
T* Find(calvix::TMainForm& form, const char* name) {
    T* widget = form.findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        std::fprintf(stderr, "no control %s\n", name);
        std::exit(1);
    }
    return widget;
}

void Click(calvix::TMainForm& form, const char* name) {
    auto* button = Find<QAbstractButton>(form, name);
    if (button->isHidden() || !button->isEnabled()) {
        std::fprintf(stderr, "%s cannot be pressed\n", name);
        std::exit(1);
    }
    button->click();
    QApplication::processEvents();
}

// What the GUI thread saw while the reading ran.
struct Watch {
    Clock::time_point last;
    double longestGap = 0;       // s
    double longestGapAt = 0;     // s after "Да"
    double longestGapCpu = 0;    // s the GUI thread ran during it
    double longestGapQueue = 0;  // s it was ready to run but another thread had the CPU
    double lastCpu = 0;
    double lastQueue = 0;
    long ticks = 0;
    std::map<long, double> workerCpu;    // the new threads and their last CPU reading
    std::map<long, double> workerQueue;  // and their last run delay
};

}  // namespace

int main(int argc, char** argv) {
    const unsigned hours = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 48;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    calvix::ApplyCalvixLook(app);
    calvix::DialogService::SetHeadless(true);

    // A working folder from the shipped site data: calvix.ini names COM1, 9600 and address 3.
    const fs::path folder =
        fs::temp_directory_path() / ("gui-read-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    fs::copy(fs::path(CALVIX_SOURCE_DIR) / "site", folder, fs::copy_options::recursive);
    fs::current_path(folder);

    emulators::LineOptions options;
    options.baud = kBaud;
    emulators::HcLine line({Device(hours)}, options);
    ::setenv("CALVIX_COM1", line.SlavePath().c_str(), 1);

    int status = 0;
    {
        calvix::TMainForm form;
        form.show();
        QApplication::processEvents();
        Click(form, "btTV540Mode");
        Find<QLineEdit>(form, "edHCNumber")->setText(QString::number(kAddress));
        Click(form, "btHCRead");
        Find<QCheckBox>(form, "cbHCReadOnlyOtPeriod")->setChecked(false);
        Find<QCheckBox>(form, "cbHCDayRead")->setChecked(true);
        QWidget* wait = form.PanelWidget(calvix::Panel::HCWait);
        QWidget* report = form.PanelWidget(calvix::Panel::Report);
        const std::set<long> before = Tasks();
        const std::string unnamed = TaskFile(::gettid(), "comm");
        std::set<long> others = before;  // the emulated line's thread and the toolkit's
        others.erase(::gettid());
        const double othersQueueBefore = RunQueueSeconds(others);

        const double mainCpuBefore = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto start = Clock::now();
        Click(form, "btHCQuestionYes");
        Watch watch;
        for (long tid : Tasks()) {
            // The reading worker is a plain thread: it keeps the program's name.
            if (before.count(tid) == 0 && TaskFile(tid, "comm") == unnamed) {
                watch.workerCpu[tid] = 0;
            }
        }
        auto end = start;
        watch.last = Clock::now();
        watch.lastCpu = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
        watch.lastQueue = RunQueueSeconds();
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            const double gap = std::chrono::duration<double>(now - watch.last).count();
            const double cpu = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
            const double queue = RunQueueSeconds();
            if (gap > watch.longestGap) {
                watch.longestGap = gap;
                watch.longestGapAt = std::chrono::duration<double>(now - start).count();
                watch.longestGapCpu = cpu - watch.lastCpu;
                watch.longestGapQueue = queue - watch.lastQueue;
            }
            watch.lastCpu = cpu;
            watch.lastQueue = queue;
            watch.last = now;
            ++watch.ticks;
            for (auto& [tid, reading] : watch.workerCpu) {
                const double seconds = ClockSeconds(ThreadCpuClock(tid));
                reading = seconds >= 0 ? seconds : reading;  // an ended thread keeps its last
                if (watch.ticks % 50 == 0) {                 // a file read: not on every tick
                    const double delay = RunQueueSeconds("self/task/" + std::to_string(tid));
                    watch.workerQueue[tid] = delay >= 0 ? delay : watch.workerQueue[tid];
                }
            }
            if (wait->isHidden()) {
                end = now;
                loop.quit();  // the application's quit would ask the window to close
            }
        });
        tick.start(1);
        loop.exec();
        tick.stop();
        const double wallTime = std::chrono::duration<double>(end - start).count();
        const double mainCpu = ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - mainCpuBefore;

        const double othersQueue = RunQueueSeconds(others) - othersQueueBefore;
        double workerCpu = 0, workerQueue = 0;
        for (const auto& entry : watch.workerCpu) {
            workerCpu += entry.second;
            workerQueue += watch.workerQueue[entry.first];
        }
        const emulators::HcStats device = line.Device(kAddress).Stats();
        const emulators::LineStats wire = line.Stats();
        const unsigned frames = device.readFrames + device.writeFrames;
        const double floor = bench::ReadingFloorSeconds(device, wire);

        const bool succeeded = !report->isHidden();
        std::printf("version-60 reading through the main window, %u hours, 9600 baud paced: %s\n",
                    hours, succeeded ? "report selection shown" : "FAILED");
        std::printf("  exchanges              %u (%u commands), %u bytes out, %u bytes in\n",
                    frames, device.commands, wire.bytesReceived, wire.bytesSent);
        std::printf("  wall time              %.3f s\n", wallTime);
        std::printf("  floor                  %.3f s\n", floor);
        std::printf("  wall / floor           %.3f\n", wallTime / floor);
        std::printf("  CPU (reading thread)   %.3f s (%.2f %% of wall; %zu thread)\n", workerCpu,
                    100.0 * workerCpu / wallTime, watch.workerCpu.size());
        std::printf("  CPU (GUI thread)       %.3f s (%.2f %% of wall)\n", mainCpu,
                    100.0 * mainCpu / wallTime);
        // A stall the thread spent waiting for a CPU is the machine's, not the program's.
        std::printf(
            "  longest GUI stall      %.1f ms, ending %.3f s after the start: the GUI thread "
            "ran %.1f ms of it and waited %.1f ms for a CPU\n",
            1000.0 * watch.longestGap, watch.longestGapAt, 1000.0 * watch.longestGapCpu,
            1000.0 * watch.longestGapQueue);
        std::printf("  1 ms timer ticks       %ld\n", watch.ticks);
        std::printf("  waited for a CPU       reading thread %.3f s, other threads %.3f s\n",
                    workerQueue, othersQueue);
        status = succeeded && watch.workerCpu.size() == 1 ? 0 : 1;
        if (status == 0) {
            bench::Emit("gui.ratio", wallTime / floor, "");
            bench::Emit("gui.wall", wallTime, "s");
            bench::Emit("gui.floor", floor, "s");
            bench::Emit("gui.cpu", 100.0 * workerCpu / wallTime, "%");
            bench::Emit("gui.stall", 1000.0 * watch.longestGap, "ms");
            bench::Emit("gui.stall_cpu", 1000.0 * watch.longestGapCpu, "ms");
            bench::Emit("gui.stall_queue", 1000.0 * watch.longestGapQueue, "ms");
            bench::Emit("gui.wait_reading", workerQueue, "s");
            bench::Emit("gui.wait_device", othersQueue, "s");
            bench::Emit("gui.rss", bench::MB(bench::StatusKiB("VmHWM")), "MB");
        }
    }
    line.Stop();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return status;
}
