#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

}  // namespace

FileRead ReadFileWhole(const std::filesystem::path& path, std::string& content, std::size_t limit) {
    content.clear();
    // Non-blocking, so a FIFO without a writer cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? FileRead::kMissing : FileRead::kUnreadable;
    }
    const FdCloser closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return FileRead::kUnreadable;
    }
    if (S_ISDIR(info.st_mode)) {
        return FileRead::kUnreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        return FileRead::kNotRegular;
    }
    if (static_cast<std::size_t>(info.st_size) > limit) {
        return FileRead::kTooLarge;
    }
    char chunk[8192];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            content.clear();
            return FileRead::kUnreadable;
        }
        if (got == 0) {
            return FileRead::kRead;
        }
        // The file may have grown since fstat.
        if (content.size() + static_cast<std::size_t>(got) > limit) {
            content.clear();
            return FileRead::kTooLarge;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& content) {
    std::string whole;
    if (ReadFileWhole(path, whole) != FileRead::kRead) {
        return false;
    }
    content += whole;
    return true;
}

bool ReadExactly(int fd, void* buffer, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace platform
