#include "updtools/archive_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <system_error>
#include <utility>

#include "platform/file_io.h"
#include "updtools/tool_common.h"

namespace updtools {

namespace {

// Only a regular file: a folder or a device at the output path is not ours to remove.
void RemoveRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::unlink(path.c_str());
    }
}

}  // namespace

ArchiveOutput::ArchiveOutput(const std::filesystem::path& target,
                             std::function<void(const std::string&)> created,
                             std::function<void()> settled)
    : target_(platform::LinkedFile(target)),
      created_(std::move(created)),
      settled_(std::move(settled)) {}

ArchiveOutput::~ArchiveOutput() {
    if (!committed_) {
        Discard();
    }
}

bool ArchiveOutput::Create() {
    struct stat info {};
    if (::stat(target_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return false;
    }
    temporary_ = platform::ReplacementPath(target_);
    ::unlink(temporary_.c_str());  // a leftover of a killed run; O_EXCL refuses anything else
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd_ < 0) {
        return false;
    }
    haveTemporary_ = true;
    if (created_) {
        created_(temporary_.string());
    }
    RemoveRegularFile(target_);
    return true;
}

bool ArchiveOutput::Append(const std::uint8_t* bytes, std::size_t count) {
    return fd_ >= 0 && WriteAll(fd_, bytes, count);
}

bool ArchiveOutput::Commit() {
    const bool synced = fd_ >= 0 && ::fsync(fd_) == 0;
    const bool closed = fd_ >= 0 && ::close(fd_) == 0;
    fd_ = -1;
    if (!synced || !closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Discard();
        return false;
    }
    committed_ = true;
    haveTemporary_ = false;
    if (settled_) {
        settled_();
    }
    // The rename made durable; a folder that cannot be synced does not undo it.
    const int folder = ::open(temporary_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void ArchiveOutput::Discard() {
    CloseTemporary();
    if (haveTemporary_) {
        ::unlink(temporary_.c_str());
        haveTemporary_ = false;
        if (settled_) {
            settled_();
        }
    }
    RemoveRegularFile(target_);
}

void ArchiveOutput::CloseTemporary() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace updtools
