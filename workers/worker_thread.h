// Background workers of the main window: a worker object lives on its own thread and frees
// itself when its body ends; the starter keeps a WorkerThread, the join handle.
//
// Ownership: the thread holds the only owning pointer to the worker object, so nothing the
// worker uses is freed while it runs, and it is freed as soon as the body ends. The handle holds
// the std::thread and a small control block shared with the worker (a cancel event and two
// flags); it never touches the worker object.
//
// Destroying or re-assigning a handle whose worker still runs cancels the worker (its waits end at
// once, a program it started is killed, its end callback reports failure) and joins it. A handle
// dropped from inside the worker's own end callback (the usual "it is done" reaction) cannot
// join there, since the worker waits for that callback: such a thread is handed to a reaper that
// joins it soon after, and at the latest when the program exits. So no worker ever runs past the
// program's static destruction.
//
// Joining blocks. On the thread that runs the worker's callbacks, join only after the "run on the
// main thread" function returns at once (the window shut it down), or wait for Finished() while
// the event loop keeps running.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/event.h"

namespace workers {

// Runs a call on the main thread and returns when it has run. Empty: the call runs at once on
// the worker's thread (tests).
using RunOnMainThread = std::function<void(const std::function<void()>&)>;

// Shared by a worker and its handle.
class WorkerControl {
  public:
    // Throws std::system_error when no event can be made.
    WorkerControl() = default;

    void Cancel() { cancel_.Set(); }
    // Manual reset: a worker waits for it together with whatever it waits for.
    const platform::Event& CancelEvent() const { return cancel_; }

    // The body is over and the end callback is being called: no more waits.
    void MarkEnding() { ending_ = true; }
    bool Ending() const { return ending_; }
    // The end callback has returned: the thread only frees the worker now.
    void MarkFinished() { finished_ = true; }
    bool Finished() const { return finished_; }

  private:
    platform::Event cancel_{platform::Event::Kind::kManualReset};
    std::atomic<bool> ending_{false};
    std::atomic<bool> finished_{false};
};

// Runs `call` through `runOnMainThread`, or at once when that is empty.
void RunOnMain(const RunOnMainThread& runOnMainThread, const std::function<void()>& call);

// A worker's last act: `report` (its end callback) once through `runOnMainThread`, with the
// control marked ending before and finished after; an error thrown by it is swallowed, since
// the end is reported once whatever happens.
void ReportEnd(WorkerControl& control, const RunOnMainThread& runOnMainThread,
               const std::function<void()>& report);

class WorkerThread {
  public:
    WorkerThread() = default;
    // Runs `body` on a new thread. Throws std::system_error when no thread can be made.
    WorkerThread(std::shared_ptr<WorkerControl> control, std::function<void()> body);
    WorkerThread(WorkerThread&& other) noexcept = default;
    WorkerThread& operator=(WorkerThread&& other) noexcept;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    bool Joinable() const { return thread_.joinable(); }
    // True once the worker's end callback has returned.
    bool Finished() const { return control_ == nullptr || control_->Finished(); }
    // Asks the worker to end now; it still calls its end callback (with failure).
    void Cancel();
    // Waits for the thread (see above about the thread that runs the callbacks).
    void Join();

  private:
    void Abandon();

    std::shared_ptr<WorkerControl> control_;
    std::thread thread_;
};

}  // namespace workers
