// Workers post to the GUI thread through an injected "run on the main thread and wait"
// function. In the program it goes through the Qt event loop; tests may pass one that runs
// the call inline.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace calvix {

using RunOnMainThread = std::function<void(const std::function<void()>&)>;

class MainThreadCaller {
  public:
    // `context` lives on the GUI thread; calls run in its thread.
    explicit MainThreadCaller(QObject* context) : context_(context) {}

    // Runs `call` on the GUI thread and returns when it has run. On the GUI thread itself it
    // runs at once (waiting there would deadlock); after Shutdown it returns without running.
    void RunAndWait(const std::function<void()>& call);
    // The window is going away: pending and later calls return at once, without running.
    void Shutdown();

    RunOnMainThread Function() {
        return [this](const std::function<void()>& call) { RunAndWait(call); };
    }

  private:
    struct Pending;

    QObject* context_;
    std::atomic<bool> shutdown_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
};

}  // namespace calvix
