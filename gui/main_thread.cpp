#include "gui/main_thread.h"

#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace calvix {

// One call handed to the GUI thread. The worker waits for `done` or for the window's shut-down,
// so a window that goes away never leaves a worker waiting for an event loop that is gone.
struct MainThreadCaller::Pending {
    std::function<void()> call;
    bool done = false;
};

void MainThreadCaller::RunAndWait(const std::function<void()>& call) {
    if (shutdown_) {
        return;
    }
    if (QThread::currentThread() == context_->thread()) {
        call();
        return;
    }
    auto pending = std::make_shared<Pending>();
    pending->call = call;
    QMetaObject::invokeMethod(
        context_,
        [this, pending] {
            if (!shutdown_) {
                pending->call();
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            pending->done = true;
            ended_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [&] { return pending->done || shutdown_; });
}

void MainThreadCaller::Shutdown() {
    const std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
    ended_.notify_all();
}

}  // namespace calvix
