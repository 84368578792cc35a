// The start of the real calvix in a working folder made from the shipped site data, headless
// (QT_QPA_PLATFORM=offscreen), with libtarvex.so on the loader's path as the demo has it: the
// time from the exec to the start window shown and painted, and the resident memory once
// "Старт" has led to the mode window. The start probe plugin (start_probe.cpp) tells both from
// inside the program; the program itself is unchanged. Median of RUNS starts.
//
//   calvix_start_bench CALVIX PROBE_PLUGIN_PATH TARVEX_FOLDER [RUNS]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

struct Start {
    bool ok = false;
    double visible = 0;  // s from the exec
    long rssKiB = 0, peakKiB = 0;
};

// Waits up to 30 s for the program to end; kills it after that.
bool Reap(pid_t pid) {
    for (int i = 0; i < 3000; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

// The program's paths are absolute: it starts in its working folder.
Start RunOnce(const std::vector<std::string>& paths, const fs::path& folder) {
    const fs::path work = folder / "work";
    fs::remove_all(work);
    fs::copy(fs::path(CALVIX_SOURCE_DIR) / "site", work, fs::copy_options::recursive);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "QT_PLUGIN_PATH=" + paths[1],
                                          "QT_QPA_GENERIC_PLUGINS=calvixstartprobe",
                                          "LD_LIBRARY_PATH=" + paths[2]};
    const double exec = bench::ClockSeconds(CLOCK_MONOTONIC);
    const pid_t pid = testsupport::Spawn({paths[0]}, folder / "calvix.out", env, work);
    Start start;
    if (pid < 0 || !Reap(pid)) {
        return start;
    }
    std::ifstream in(folder / "calvix.out");
    std::string line;
    bool visible = false, rss = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string probe, what;
        words >> probe >> what;
        if (probe != "STARTPROBE") {
            continue;
        }
        if (what == "visible") {
            double at = 0;
            visible = static_cast<bool>(words >> at);
            start.visible = at - exec;
        } else if (what == "rss") {
            rss = static_cast<bool>(words >> start.rssKiB >> start.peakKiB);
        }
    }
    start.ok = visible && rss;
    return start;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: calvix_start_bench CALVIX PROBE_PLUGIN_PATH TARVEX_FOLDER [RUNS]\n");
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 7;
    testsupport::ScratchFolder folder;
    std::vector<std::string> paths;
    for (int i = 1; i <= 3; ++i) {
        paths.push_back(fs::absolute(argv[i]).string());
    }
    std::vector<double> visible, rss, peak;
    for (int i = 0; i < runs; ++i) {
        const Start start = RunOnce(paths, folder.Path());
        if (!start.ok) {
            std::fprintf(stderr, "calvix did not reach its mode window (see its output)\n");
            return 1;
        }
        visible.push_back(start.visible);
        rss.push_back(bench::MB(start.rssKiB));
        peak.push_back(bench::MB(start.peakKiB));
    }
    std::printf("calvix start, %d runs, headless\n", runs);
    std::printf("  exec to start window    median %.3f s (min %.3f, max %.3f)\n",
                bench::Median(visible), *std::min_element(visible.begin(), visible.end()),
                *std::max_element(visible.begin(), visible.end()));
    std::printf("  at the mode window      resident %.1f MB, peak %.1f MB (median)\n",
                bench::Median(rss), bench::Median(peak));
    bench::Emit("calvix.start", bench::Median(visible), "s");
    bench::Emit("calvix.rss", bench::Median(rss), "MB");
    bench::Emit("calvix.peak", bench::Median(peak), "MB");
    return 0;
}
