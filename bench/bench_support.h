// What every benchmark shares: the machine-readable result lines that bench/run gathers into
// its table, CPU clocks of threads and processes, resident memory, a scratch folder.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace bench {

// One result: "BENCH <name> <value> <unit>". bench/run makes its table from these lines only.
inline void Emit(const char* name, double value, const char* unit) {
    std::printf("BENCH %s %.6g %s\n", name, value, unit);
    std::fflush(stdout);
}

inline double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

inline double CpuSeconds(const rusage& usage) {
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// The reading of a clock in seconds; -1 when it cannot be read (a thread that has ended).
inline double ClockSeconds(clockid_t clock) {
    timespec t{};
    if (::clock_gettime(clock, &t) != 0) {
        return -1;
    }
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The CPU clock of another thread of this process, as pthread_getcpuclockid makes it.
inline clockid_t ThreadCpuClock(long tid) {
    return static_cast<clockid_t>((~static_cast<unsigned long>(tid) << 3) | 6);
}

// A line of /proc/self/<file> for a thread.
inline std::string TaskFile(long tid, const char* name) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/" + name);
    std::string text;
    std::getline(in, text);
    return text;
}

inline std::set<long> Tasks() {
    std::set<long> tasks;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        tasks.insert(std::stol(entry.path().filename().string()));
    }
    return tasks;
}

// The CPU time of the threads that came after a baseline (the emulators' threads and the
// bench's own are in the baseline); sampled often enough, a thread that ended keeps its last
// reading.
class NewThreadsCpu {
  public:
    NewThreadsCpu() : baseline_(Tasks()) {}
    void Sample() {
        for (long tid : Tasks()) {
            if (baseline_.count(tid) == 0) {
                const double seconds = ClockSeconds(ThreadCpuClock(tid));
                double& last = cpu_[tid];
                last = seconds >= 0 ? seconds : last;
            }
        }
    }
    double Total() const {
        double total = 0;
        for (const auto& entry : cpu_) {
            total += entry.second;
        }
        return total;
    }
    std::size_t Count() const { return cpu_.size(); }

  private:
    std::set<long> baseline_;
    std::map<long, double> cpu_;
};

// How long a task has waited, ready to run, for a CPU (the scheduler's run delay) in seconds;
// -1 when it cannot be read. `task` is a path under /proc: "thread-self", "self/task/<tid>", or a
// process id (its main thread; a process that has ended but is not reaped yet still answers).
inline double RunQueueSeconds(const std::string& task = "thread-self") {
    std::ifstream in("/proc/" + task + "/schedstat");
    double running = 0, waiting = 0;
    in >> running >> waiting;
    return in ? waiting / 1e9 : -1;
}

// The run delay of all the threads of a task set (e.g. the emulators' threads).
inline double RunQueueSeconds(const std::set<long>& tids) {
    double total = 0;
    for (long tid : tids) {
        total += std::max(0.0, RunQueueSeconds("self/task/" + std::to_string(tid)));
    }
    return total;
}

// The run delay of all threads of another process (readable until it is reaped).
inline double ProcessRunQueueSeconds(pid_t pid) {
    double total = 0;
    std::error_code ec;
    const std::string tasks = std::to_string(pid) + "/task";
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + tasks, ec)) {
        total += std::max(0.0, RunQueueSeconds(tasks + "/" + entry.path().filename().string()));
    }
    return total;
}

// Waits for a child to end and leaves it unreaped, so that /proc still has its figures.
inline bool WaitUnreaped(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0;
}

// A "VmHWM:" or "VmRSS:" figure of /proc/<pid>/status in KiB; -1 when missing.
inline long StatusKiB(const char* key, const std::string& pid = "self") {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stol(line.substr(prefix.size()));
        }
    }
    return -1;
}

// Megabytes of 10^6 bytes, the unit of the memory goal.
inline double MB(long kib) {
    return static_cast<double>(kib) * 1024.0 / 1e6;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace bench
