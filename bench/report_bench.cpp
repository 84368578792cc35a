// Creating every shipped report with the real builder, as calvix does: the command lines of its
// creation rules, one run at a time through the external program runner with the builder's
// budget. Data: a version-60 device with its hourly archive and the 180-day archive of a
// version-53 device, both read from the emulator. Per report: wall time from start to the
// runner's end callback (median of 5), and the builder's peak resident memory (one more run
// reaped with wait4).
//
//   report_bench [HOURS]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "emulators/hc_device.h"
#include "gui/rules/configuration.h"
#include "gui/rules/report_creation.h"
#include "gui/rules/report_files.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/process.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/tv540v60.h"
#include "reading/data_file_patch.h"
#include "tests/support/direct_modem.h"
#include "workers/uthreadextproc.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using calvix::WorkState;

constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC
constexpr int kRuns = 5;

struct Report {
    std::string caption;  // UTF-8
    calvix::BuilderRun run;
};

struct Figures {
    double medianMs = 0, minMs = 0, maxMs = 0;
    long peakKiB = 0;
    bool ok = false;
};

emulators::HcConfig Device(int version, unsigned hours) {
    emulators::HcConfig config;
    config.version = version;
    config.seed = 3;
    config.clockEpoch = kClock;
    config.hourlyRecords = hours;
    return config;
}

// "hc\dat1hc" as the reading worker leaves it (hourly records patched), and "hc\dat2hc".
bool ReadDataFiles(const fs::path& folder, unsigned hours) {
    protocol::SilentProgress progress;
    {
        emulators::HcDevice device(Device(60, hours));
        testsupport::DirectModem modem(device);
        auto link = testsupport::DirectLink<protocol::CTV540v60>(modem);
        auto file = protocol::DataFile::Create(folder / "hc" / "dat1hc");
        link->ReadVersion60(*file, true, progress, platform::IniFile{});
        if (!file->Close() || !reading::PatchHourRecordsInFile(folder / "hc" / "dat1hc")) {
            return false;
        }
    }
    emulators::HcDevice device(Device(53, 0));
    testsupport::DirectModem modem(device);
    auto link = testsupport::DirectLink<protocol::CTV540>(modem);
    auto file = protocol::DataFile::Create(folder / "hc" / "dat2hc");
    return link->Read180DayArchive(*file, progress) && file->Close();
}

// The reports of the shipped lists for version 60, the hourly report of the last closed day,
// the several-day reports over 29.11..06.12 (their "@cycle" lines rewritten) and the same
// templates over the 180-day archive.
std::vector<Report> Reports(const fs::path& folder) {
    calvix::Configuration config(folder / "calvix.ini");
    config.LoadConnectionSettings(WorkState::stHCReports);  // the device type
    config.LoadTemplateSettings(60);
    const std::string templates = config.Templates().templateFolder;
    std::vector<Report> reports;
    const auto utf8 = [](const std::string& text) { return platform::Cp1251ToUtf8(text); };
    for (const std::string& name :
         config.ReadTemplateList(config.Templates().templateList).templates) {
        reports.push_back({utf8(name), *calvix::MonthRun(WorkState::stHCReports, templates, name)});
    }
    const calvix::HourlyEntry day{6, 12, 24};
    reports.push_back(
        {"hour_hw 06.12.2024", *calvix::HourlyRun(WorkState::stHCHourly, templates, day)});
    const calvix::CycleArguments cycle =
        calvix::CycleSlots({2024, 11, 1}, {2024, 11, 29}, {2024, 12, 6});
    const std::string range = calvix::DateRangeText({2024, 6, 11}, {2024, 12, 6});
    for (const std::string& name :
         config.ReadTemplateList(config.Templates().severalDayTemplateList).templates) {
        calvix::RewriteCycleTemplate(folder / utf8(templates) / (utf8(name) + ".sbl"), cycle);
        reports.push_back(
            {utf8(name) + " @cycle 29.11-06.12",
             *calvix::SeveralDayRun(WorkState::stHCSeveralDays, templates, name, false, "")});
        reports.push_back(
            {utf8(name) + " 180 days",
             *calvix::SeveralDayRun(WorkState::stHCSeveralDays, templates, name, true, range)});
    }
    return reports;
}

// One run through the runner, as the creation starts it; milliseconds, negative on failure.
double TimedRun(const std::string& commandLine, const fs::path& folder) {
    std::promise<bool> ended;
    workers::ExtProcSetup setup;  // no main thread: the end callback runs on the worker
    setup.workingFolder = folder;
    const auto start = Clock::now();
    workers::WorkerThread worker = workers::CThreadExtProc::StartSingle(
        commandLine, workers::kBuilderBudgetSeconds, nullptr,
        [&ended](void*, bool succeeded) { ended.set_value(succeeded); }, setup);
    const bool succeeded = ended.get_future().get();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    worker.Join();
    return succeeded ? ms : -1;
}

// The builder's peak resident set in KiB, from one run reaped with wait4; -1 when it failed.
long PeakRun(const std::string& commandLine, const fs::path& folder) {
    std::vector<std::string> args = platform::SplitCommandLine(commandLine);
    const std::optional<fs::path> program = platform::FindProgram(args[0], folder);
    if (!program) {
        return -1;
    }
    args[0] = program->string();
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

Figures Measure(const Report& report, const fs::path& folder) {
    Figures f;
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        times.push_back(TimedRun(report.run.commandLine, folder));
    }
    std::sort(times.begin(), times.end());
    f.peakKiB = PeakRun(report.run.commandLine, folder);
    f.ok = times.front() >= 0 && f.peakKiB >= 0 &&
           fs::exists(calvix::ProgramPath(report.run.output, folder));
    f.medianMs = times[kRuns / 2];
    f.minMs = times.front();
    f.maxMs = times.back();
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned hours = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 240;
    const fs::path folder =
        fs::temp_directory_path() / ("report-bench-" + std::to_string(::getpid()));
    const fs::path site = fs::path(CALVIX_SOURCE_DIR) / "site";
    fs::create_directories(folder / "hc" / "txt");
    fs::copy(site / "sbl", folder / "sbl");
    fs::copy_file(site / "calvix.ini", folder / "calvix.ini");
    fs::copy_file(TOUCH_PROGRAM, folder / "touch.exe");
    fs::copy_file(TOUCH_PROGRAM, folder / "hc" / "touch180.exe");
    if (!ReadDataFiles(folder, hours)) {
        std::fprintf(stderr, "the emulated devices could not be read\n");
        return 1;
    }
    std::printf(
        "reports of a version-60 file (%ju bytes, %u hourly records) and a version-53\n"
        "180-day file (%ju bytes); %d runs each through the runner\n",
        static_cast<std::uintmax_t>(fs::file_size(folder / "hc" / "dat1hc")), hours,
        static_cast<std::uintmax_t>(fs::file_size(folder / "hc" / "dat2hc")), kRuns);
    std::printf("%-34s %10s %10s %10s %10s\n", "report", "median ms", "min ms", "max ms",
                "peak KiB");
    bool allOk = true;
    double slowest = 0;
    int count = 0;
    for (const Report& report : Reports(folder)) {
        const Figures f = Measure(report, folder);
        allOk = allOk && f.ok;
        slowest = std::max(slowest, f.medianMs);
        ++count;
        std::printf("%-34s %10.1f %10.1f %10.1f %10ld%s\n", report.caption.c_str(), f.medianMs,
                    f.minMs, f.maxMs, f.peakKiB, f.ok ? "" : "  FAILED");
    }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("largest builder resident set over all runs: %ld KiB\n", children.ru_maxrss);
    fs::remove_all(folder);
    if (allOk) {
        bench::Emit("reports.count", count, "");
        bench::Emit("reports.slowest", slowest, "ms");
        bench::Emit("reports.rss", bench::MB(children.ru_maxrss), "MB");
    }
    return allOk ? 0 : 1;
}
