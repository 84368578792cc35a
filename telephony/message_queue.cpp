#include "telephony/message_queue.h"

#include <atomic>

namespace telephony {

MessageQueue::MessageQueue()
    : event_(std::make_shared<platform::Event>(platform::Event::Kind::kAutoReset)) {}

void MessageQueue::Post(const LineMessage& message) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        messages_.push_back(message);
    }
    posted_.notify_one();
    event_->Set();
}

bool MessageQueue::Take(LineMessage& message, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, timeout, [this] { return !messages_.empty() || closed_; }) ||
        messages_.empty()) {
        return false;
    }
    message = messages_.front();
    messages_.pop_front();
    return true;
}

void MessageQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        messages_.clear();
    }
    posted_.notify_all();
}

std::uint32_t NewHandle() {
    static std::atomic<std::uint32_t> next{0x10000};
    std::uint32_t handle = next.fetch_add(1);
    while (handle == 0) {
        handle = next.fetch_add(1);
    }
    return handle;
}

}  // namespace telephony
