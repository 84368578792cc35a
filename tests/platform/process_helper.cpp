// A small program for the tests of program starting: it notes how it was called in "calls.log"
// of its current folder (arguments joined by '|'), then does what its first argument says:
//   sleep MS          sleeps MS milliseconds, then notes "end" and exits 0
//   exit CODE         exits with CODE
//   spawn FILE MS     starts a child that sleeps a minute, writes the child's pid into FILE,
//                     then sleeps MS milliseconds
//   fds FILE          writes its open descriptors and where 0, 1 and 2 lead into FILE
//   pgid FILE         writes "pid pgid" into FILE
// Anything else: exits 0.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

void Append(const std::string& file, const std::string& text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
        ::close(fd);
    }
}

// Written beside and renamed, so a reader never sees half of it.
void WriteWhole(const std::string& file, const std::string& text) {
    const std::string temporary = file + ".part";
    ::unlink(temporary.c_str());
    Append(temporary, text);
    ::rename(temporary.c_str(), file.c_str());
}

void SleepMs(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string Descriptors() {
    std::string text;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) {
        return text;
    }
    const int own = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && std::atoi(name.c_str()) != own) {
            text += "fd " + name + "\n";
        }
    }
    ::closedir(folder);
    for (int fd = 0; fd <= 2; ++fd) {
        char target[256] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
        text += std::to_string(fd) + " -> " + (size > 0 ? std::string(target, size) : "?") + "\n";
    }
    return text;
}

int SpawnSleeper(const std::string& pidFile, long ms) {
    char self[] = "/proc/self/exe";
    char name[] = "grandchild";
    char verb[] = "sleep";
    char length[] = "60000";
    char* argv[] = {name, verb, length, nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, self, nullptr, nullptr, argv, environ) != 0) {
        return 2;
    }
    WriteWhole(pidFile, std::to_string(child) + "\n");
    SleepMs(ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        line += (i > 0 ? "|" : "") + std::string(argv[i]);
    }
    Append("calls.log", line + "\n");
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "sleep" && argc > 2) {
        SleepMs(std::atol(argv[2]));
        Append("calls.log", "end\n");
        return 0;
    }
    if (verb == "exit" && argc > 2) {
        return std::atoi(argv[2]);
    }
    if (verb == "spawn" && argc > 3) {
        return SpawnSleeper(argv[2], std::atol(argv[3]));
    }
    if (verb == "fds" && argc > 2) {
        WriteWhole(argv[2], Descriptors());
        return 0;
    }
    if (verb == "pgid" && argc > 2) {
        WriteWhole(argv[2], std::to_string(::getpid()) + " " + std::to_string(::getpgid(0)) + "\n");
        return 0;
    }
    return 0;
}
