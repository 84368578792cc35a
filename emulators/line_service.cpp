#include "emulators/line_service.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <exception>

#include "emulators/pseudo_terminal.h"

namespace emulators {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

LineService::LineService(speed_t speed, bool blockingReads, std::string linkPath) {
    PseudoTerminalEnds ends = OpenPseudoTerminal(speed, blockingReads);
    master_ = ends.master;
    slave_ = ends.slave;
    slavePath_ = ends.slavePath;
    try {
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) {
            ThrowErrno("eventfd");
        }
        if (!linkPath.empty()) {
            MakeLink(linkPath, slavePath_);
            linkPath_ = std::move(linkPath);
        }
    } catch (...) {
        Close();
        throw;
    }
}

LineService::~LineService() {
    Stop();
}

void LineService::Start(std::function<void()> serve) {
    thread_ = std::thread(std::move(serve));
}

void LineService::Stop() {
    std::lock_guard lock(stopMutex_);
    if (stopped_) {
        return;
    }
    stopped_ = true;
    const std::uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
        // The eventfd cannot overflow with a single write; nothing else to do.
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (!linkPath_.empty()) {
        RemoveLink(linkPath_, slavePath_);
        linkPath_.clear();
    }
    Close();
}

void LineService::Hangup() {
    CloseFd(master_);
    CloseFd(slave_);
}

void LineService::Close() {
    CloseFd(master_);
    CloseFd(slave_);
    CloseFd(wake_);
}

}  // namespace emulators
