#include "workers/worker_thread.h"

#include <mutex>
#include <utility>
#include <vector>

namespace workers {

void RunOnMain(const RunOnMainThread& runOnMainThread, const std::function<void()>& call) {
    if (runOnMainThread) {
        runOnMainThread(call);
    } else {
        call();
    }
}

void ReportEnd(WorkerControl& control, const RunOnMainThread& runOnMainThread,
               const std::function<void()>& report) {
    control.MarkEnding();
    try {
        RunOnMain(runOnMainThread, report);
    } catch (...) {
        // The end is reported once; a failing callback changes nothing here.
    }
    control.MarkFinished();
}
namespace {

// Threads whose handle went away while they were calling their end callback. Joined once they
// have finished, and all of them when the program exits.
class Reaper {
  public:
    static Reaper& Instance() {
        static Reaper reaper;
        return reaper;
    }

    void Adopt(std::thread thread, std::shared_ptr<WorkerControl> control) {
        std::vector<Entry> done;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = entries_.begin(); it != entries_.end();) {
                if (it->control->Finished()) {
                    done.push_back(std::move(*it));
                    it = entries_.erase(it);
                } else {
                    ++it;
                }
            }
            entries_.push_back({std::move(thread), std::move(control)});
        }
        for (Entry& entry : done) {
            entry.thread.join();  // past its end callback: only returning
        }
    }

    ~Reaper() {
        for (Entry& entry : entries_) {
            entry.control->Cancel();
            entry.thread.join();
        }
    }

  private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<WorkerControl> control;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace

WorkerThread::WorkerThread(std::shared_ptr<WorkerControl> control, std::function<void()> body)
    : control_(std::move(control)) {
    // Made before the thread runs, so that a worker never ends before its handle can reap it.
    Reaper::Instance();
    thread_ = std::thread(std::move(body));
}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
    if (this != &other) {
        Abandon();
        control_ = std::move(other.control_);
        thread_ = std::move(other.thread_);
    }
    return *this;
}

WorkerThread::~WorkerThread() {
    Abandon();
}

void WorkerThread::Cancel() {
    if (control_ != nullptr) {
        control_->Cancel();
    }
}

void WorkerThread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void WorkerThread::Abandon() {
    if (!thread_.joinable()) {
        return;
    }
    if (control_->Ending() && !control_->Finished()) {
        // Possibly called from the end callback itself, which the worker waits for.
        Reaper::Instance().Adopt(std::move(thread_), control_);
        return;
    }
    control_->Cancel();
    thread_.join();
}

}  // namespace workers
