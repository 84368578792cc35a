// Starting external programs the way the Windows programs of this system expect: a whole command
// line, split by the Windows rules, the program found in the working folder only (no shell, no
// PATH), no window (output to /dev/null), and killed together with whatever it started.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"

namespace platform {

// Splits a command line into arguments as CommandLineToArgvW does. The program name (first
// argument) runs to the first blank or, when it starts with a quote, to the next quote, with
// backslashes taken literally. In the other arguments blanks (space, tab) separate unless quoted;
// 2n backslashes before a quote give n backslashes and the quote opens or closes quoting, 2n+1
// give n backslashes and a literal quote; other backslashes are literal; inside quotes, two
// quotes give one literal quote and end the quoting. Leading blanks are skipped, as process
// creation skips them.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The executable file that `program` (a Windows-style path) names relative to `workingFolder`,
// and failing that relative to the running program's own folder; with the path rules of
// ResolvePath, "X.exe" may also be the file "X", and "X" without an extension may be "X.exe".
// Nothing is looked up through PATH. None when no executable regular file is found.
std::optional<std::filesystem::path> FindProgram(std::string_view program,
                                                 const std::filesystem::path& workingFolder);
// The folder of the running program's executable; empty when it cannot be told.
std::filesystem::path OwnProgramFolder();

// A started program in a process group of its own. The destructor kills the group and reaps the
// program if that has not happened yet, so no program is left running unattended.
class ChildProcess {
  public:
    struct Options {
        // Programs are found and run here ("." = the current folder).
        std::filesystem::path workingFolder = ".";
        // Wait by polling the process instead of a pidfd (kernels without pidfd_open).
        bool withoutPidfd = false;
    };

    // Starts the command line: stdin, stdout and stderr are /dev/null and no other descriptor is
    // inherited. None when the line names no program that can be started.
    static std::optional<ChildProcess> Start(std::string_view commandLine, const Options& options);
    static std::optional<ChildProcess> Start(std::string_view commandLine) {
        return Start(commandLine, Options{});
    }

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    enum class WaitEnd { kExited, kEvent, kTimedOut };
    // Waits for the program to end, for one of `events` to be signalled (they are looked at,
    // never taken) or for `timeout`, whichever comes first. `which` receives the event's index.
    WaitEnd Wait(std::chrono::milliseconds timeout, std::initializer_list<const Event*> events = {},
                 std::size_t* which = nullptr);

    bool Exited() const { return reaped_; }
    // The exit code, or 128 + signal when a signal ended it; none while it runs.
    std::optional<int> ExitCode() const;
    pid_t Pid() const { return pid_; }

    // SIGKILL to the whole process group (the program and the children it started), then reaps
    // the program. Does nothing once the program has ended.
    void Terminate();

  private:
    ChildProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
    bool TryReap();
    void Release();

    pid_t pid_ = -1;
    int pidfd_ = -1;  // -1: polled with waitpid
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace platform
