#include "platform/event.h"
#include "platform/read_policy.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Event::Event(Kind kind, bool signalled) : manual_(kind == Kind::kManualReset) {
    fd_ = ::eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

Event::~Event() {
    ::close(fd_);
}

void Event::Set() {
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow, i.e. it is signalled already.
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void Event::Reset() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd_, &value, sizeof value);
}

bool Event::IsSet() const {
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

bool Event::Take() {
    if (manual_) {
        return IsSet();
    }
    std::uint64_t value = 0;
    return ::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Event::Wait(std::optional<std::chrono::milliseconds> timeout) {
    return WaitForAny({this}, timeout).has_value();
}

std::optional<std::size_t> WaitForAny(std::initializer_list<Event*> events,
                                      std::optional<std::chrono::milliseconds> timeout) {
    std::optional<Clock::time_point> deadline;
    if (timeout) {
        deadline = Clock::now() + *timeout;
    }
    std::vector<pollfd> entries;
    entries.reserve(events.size());
    for (const Event* event : events) {
        entries.push_back({event->Fd(), POLLIN, 0});
    }
    for (;;) {
        const int ready = ::poll(entries.data(), entries.size(), platform::PollTimeoutMs(deadline));
        if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (ready > 0) {
            std::size_t index = 0;
            for (Event* event : events) {
                if ((entries[index].revents & POLLIN) != 0 && event->Take()) {
                    return index;
                }
                ++index;
            }
        }
        if (deadline && Clock::now() >= *deadline) {
            return std::nullopt;
        }
    }
}

}  // namespace platform
