// A stand-in for the GUI thread: workers post calls and wait until the test thread has run them
// in Pump, as a blocking queued call waits for the event loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "workers/worker_thread.h"

namespace testsupport {

class FakeMainThread {
  public:
    workers::RunOnMainThread Function() {
        return [this](const std::function<void()>& call) { Post(call); };
    }

    // Runs posted calls on this thread until `done` holds; false when `limit` passed first.
    template <typename Done>
    bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            while (!queue_.empty()) {
                const Pending pending = queue_.front();
                queue_.pop_front();
                lock.unlock();
                (*pending.call)();
                lock.lock();
                *pending.ran = true;
                changed_.notify_all();
            }
            lock.unlock();
            const bool finished = done();
            lock.lock();
            if (finished) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }

    // The window went away: pending and later calls return without running.
    void Shutdown() {
        const std::lock_guard<std::mutex> lock(mutex_);
        shutdown_ = true;
        for (const Pending& pending : queue_) {
            *pending.ran = true;
        }
        queue_.clear();
        changed_.notify_all();
    }

    std::thread::id Id() const { return id_; }

  private:
    struct Pending {
        const std::function<void()>* call;
        bool* ran;
    };

    void Post(const std::function<void()>& call) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (shutdown_) {
            return;
        }
        bool ran = false;
        queue_.push_back({&call, &ran});
        changed_.notify_all();
        changed_.wait(lock, [&] { return ran; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Pending> queue_;
    bool shutdown_ = false;
    const std::thread::id id_ = std::this_thread::get_id();
};

}  // namespace testsupport
