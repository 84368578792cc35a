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

bool FollowLinks(std::filesystem::path path, std::filesystem::path& target) {
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
            target = std::move(path);
            return true;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(path, error);
        if (error) {
            return false;
        }
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return false;
}

std::filesystem::path LinkedFile(const std::filesystem::path& path) {
    std::filesystem::path target;
    return FollowLinks(path, target) ? target : path;
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

std::filesystem::path ReplacementPath(const std::filesystem::path& target) {
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    return folder / (".~" + std::to_string(::getpid()) + ".tmp");
}

bool ReplaceFile(const std::filesystem::path& target, std::string_view content) {
    struct stat existing {};
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode)) {
        return false;
    }
    const std::filesystem::path temporary = ReplacementPath(target);
    ::unlink(temporary.c_str());  // a leftover of a crashed run; O_EXCL refuses anything else
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          replacing ? 0600 : 0666);
    if (fd < 0) {
        return false;
    }
    bool written = true;
    if (replacing) {
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            // Handing the file back to its owner needs root; without it the file becomes ours.
            [[maybe_unused]] const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
        }
        written = ::fchmod(fd, existing.st_mode & 07777) == 0;
    }
    while (written && !content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        written = n > 0;
        content.remove_prefix(written ? static_cast<std::size_t>(n) : 0);
    }
    written = written && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename made durable; a folder that cannot be synced does not undo the write.
    const int folder = ::open(temporary.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

}  // namespace platform
