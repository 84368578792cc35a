// The message queue of one telephony application: the lines post, the application takes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/event.h"
#include "telephony/line_api.h"

namespace telephony {

class MessageQueue {
  public:
    MessageQueue();
    // Queues the message and signals the event (unless the queue was closed).
    void Post(const LineMessage& message);
    // Takes the oldest message, waiting at most `timeout` for one.
    bool Take(LineMessage& message, std::chrono::milliseconds timeout);
    // No more messages are queued; those waiting are dropped.
    void Close();
    std::shared_ptr<platform::Event> SignalEvent() const { return event_; }

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<LineMessage> messages_;
    bool closed_ = false;
    std::shared_ptr<platform::Event> event_;
};

// Handles of applications, lines, calls and data: unique, never 0, never reused soon.
std::uint32_t NewHandle();

}  // namespace telephony
