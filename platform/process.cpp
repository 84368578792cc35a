#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/read_policy.h"
#include "platform/win_path.h"

extern char** environ;

namespace platform {
namespace {

namespace fs = std::filesystem;

// How often a process without a pidfd is looked at.
constexpr int kPollStepMs = 10;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The program name: to the closing quote when quoted, else to the first blank or control
// character; backslashes are plain characters here.
std::string TakeProgramName(std::string_view line, std::size_t& i) {
    std::string name;
    if (line[i] == '"') {
        ++i;
        while (i < line.size() && line[i] != '"') {
            name += line[i++];
        }
        if (i < line.size()) {
            ++i;
        }
        return name;
    }
    while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ') {
        name += line[i++];
    }
    return name;
}

class ArgumentSplitter {
  public:
    explicit ArgumentSplitter(std::vector<std::string>& out) : out_(out) {}

    void Split(std::string_view line, std::size_t i) {
        for (; i < line.size(); ++i) {
            const char c = line[i];
            if (IsBlank(c) && quotes_ == 0) {
                Close();
            } else if (c == '"') {
                Quote();
                // A run of quotes: the third of a run in quotes is a literal one.
                while (i + 1 < line.size() && line[i + 1] == '"') {
                    ++i;
                    if (++quotes_ == 3) {
                        current_ += '"';
                        quotes_ = 0;
                    }
                }
                if (quotes_ == 2) {
                    quotes_ = 0;
                }
            } else {
                current_ += c;
                backslashes_ = c == '\\' ? backslashes_ + 1 : 0;
                started_ = true;
            }
        }
        Close();
    }

  private:
    void Quote() {
        started_ = true;
        if (backslashes_ % 2 == 0) {
            current_.resize(current_.size() - backslashes_ / 2);
            ++quotes_;
        } else {
            current_.resize(current_.size() - backslashes_ / 2 - 1);
            current_ += '"';
        }
        backslashes_ = 0;
    }

    void Close() {
        if (started_) {
            out_.push_back(std::move(current_));
            current_.clear();
            started_ = false;
        }
        backslashes_ = 0;
    }

    std::vector<std::string>& out_;
    std::string current_;
    bool started_ = false;
    int quotes_ = 0;
    std::size_t backslashes_ = 0;
};

bool IsExecutableFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(std::string_view name) {
    if (name.size() <= 4) {
        return false;
    }
    std::string_view tail = name.substr(name.size() - 4);
    for (std::size_t k = 0; k < 4; ++k) {
        const char lower =
            (tail[k] >= 'A' && tail[k] <= 'Z') ? static_cast<char>(tail[k] + 32) : tail[k];
        if (lower != ".exe"[k]) {
            return false;
        }
    }
    return true;
}

class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // No window: the standard streams go nowhere; nothing else of ours is inherited; a process
    // group of its own, so that it can be killed with its children; signal state as new.
    bool Prepare(const fs::path& folder) {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_adddup2(&actions_, 1, 2) == 0 &&
               posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0 &&
               (folder == "." ||
                posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0) &&
               posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETSIGDEF) == 0 &&
               posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
               posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
               posix_spawnattr_setsigdefault(&attr_, &all) == 0;
    }

    pid_t Spawn(const fs::path& program, const std::vector<std::string>& args) {
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &actions_, &attr_, argv.data(), environ) != 0) {
            return -1;
        }
        return pid;
    }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < commandLine.size() && IsBlank(commandLine[i])) {
        ++i;
    }
    if (i == commandLine.size()) {
        return args;
    }
    args.push_back(TakeProgramName(commandLine, i));
    while (i < commandLine.size() && IsBlank(commandLine[i])) {
        ++i;
    }
    ArgumentSplitter(args).Split(commandLine, i);
    return args;
}

namespace {

std::optional<fs::path> FindProgramIn(std::string_view program, const fs::path& workingFolder) {
    fs::path named = ResolvePath(program, workingFolder);
    if (IsExecutableFile(named)) {
        return named;
    }
    const std::size_t slash = program.find_last_of("\\/");
    const std::string_view name =
        slash == std::string_view::npos ? program : program.substr(slash + 1);
    std::string other;
    if (EndsWithExe(name)) {
        other = std::string(program.substr(0, program.size() - 4));
    } else if (!name.empty() && name.find('.') == std::string_view::npos) {
        other = std::string(program) + ".exe";
    } else {
        return std::nullopt;
    }
    fs::path alternative = ResolvePath(other, workingFolder);
    if (IsExecutableFile(alternative)) {
        return alternative;
    }
    return std::nullopt;
}

}  // namespace

fs::path OwnProgramFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

std::optional<fs::path> FindProgram(std::string_view program, const fs::path& workingFolder) {
    if (program.empty()) {
        return std::nullopt;
    }
    if (std::optional<fs::path> found = FindProgramIn(program, workingFolder)) {
        return found;
    }
    // The package's own tools are installed beside the program that runs them.
    const fs::path own = OwnProgramFolder();
    if (own.empty()) {
        return std::nullopt;
    }
    return FindProgramIn(program, own);
}

std::optional<ChildProcess> ChildProcess::Start(std::string_view commandLine,
                                                const Options& options) {
    const std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty()) {
        return std::nullopt;
    }
    const std::optional<fs::path> program = FindProgram(args[0], options.workingFolder);
    if (!program) {
        return std::nullopt;
    }
    std::error_code ec;
    // The child changes into the working folder before it starts the program.
    const fs::path absolute = fs::absolute(*program, ec);
    if (ec) {
        return std::nullopt;
    }
    SpawnSetup setup;
    if (!setup.Prepare(options.workingFolder)) {
        return std::nullopt;
    }
    const pid_t pid = setup.Spawn(absolute, args);
    if (pid <= 0) {
        return std::nullopt;
    }
    // An unreaped child cannot go away, so the pidfd always names this one.
    const int pidfd =
        options.withoutPidfd ? -1 : static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return ChildProcess(pid, pidfd);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), reaped_(other.reaped_), status_(other.status_) {
    other.Release();
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Terminate();
        if (pidfd_ >= 0) {
            ::close(pidfd_);
        }
        pid_ = other.pid_;
        pidfd_ = other.pidfd_;
        reaped_ = other.reaped_;
        status_ = other.status_;
        other.Release();
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    Terminate();
    if (pidfd_ >= 0) {
        ::close(pidfd_);
    }
}

void ChildProcess::Release() {
    pid_ = -1;
    pidfd_ = -1;
    reaped_ = true;
}

bool ChildProcess::TryReap() {
    if (reaped_) {
        return true;
    }
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {  // ECHILD: reaped for us (SIGCHLD ignored)
        reaped_ = true;
        status_ = done == pid_ ? status : 0;
    }
    return reaped_;
}

ChildProcess::WaitEnd ChildProcess::Wait(std::chrono::milliseconds timeout,
                                         std::initializer_list<const Event*> events,
                                         std::size_t* which) {
    if (TryReap()) {
        return WaitEnd::kExited;
    }
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    std::vector<pollfd> entries;
    entries.reserve(events.size() + 1);
    entries.push_back({pidfd_, POLLIN, 0});  // poll() skips a negative descriptor
    for (const Event* event : events) {
        entries.push_back({event->Fd(), POLLIN, 0});
    }
    for (;;) {
        int waitMs = PollTimeoutMs(deadline);
        if (pidfd_ < 0 && waitMs > kPollStepMs) {
            waitMs = kPollStepMs;
        }
        if (::poll(entries.data(), entries.size(), waitMs) < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        // The program first, as WaitForMultipleObjects names the first handle that is ready.
        if (TryReap()) {
            return WaitEnd::kExited;
        }
        for (std::size_t k = 1; k < entries.size(); ++k) {
            if ((entries[k].revents & POLLIN) != 0) {
                if (which != nullptr) {
                    *which = k - 1;
                }
                return WaitEnd::kEvent;
            }
        }
        if (SteadyClock::now() >= deadline) {
            return WaitEnd::kTimedOut;
        }
    }
}

std::optional<int> ChildProcess::ExitCode() const {
    if (!reaped_ || pid_ <= 0) {
        return std::nullopt;
    }
    if (WIFSIGNALED(status_)) {
        return 128 + WTERMSIG(status_);
    }
    return WEXITSTATUS(status_);
}

void ChildProcess::Terminate() {
    if (reaped_ || pid_ <= 0) {
        return;
    }
    ::kill(-pid_, SIGKILL);
    int status = 0;
    pid_t done = -1;
    do {
        done = ::waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    reaped_ = true;
    status_ = done == pid_ ? status : 0;
}

}  // namespace platform
