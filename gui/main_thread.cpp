#include "gui/main_thread.h"

#include <QMetaObject>
#include <QThread>

namespace calvix {

void MainThreadCaller::RunAndWait(const std::function<void()>& call) {
    if (shutdown_) {
        return;
    }
    if (QThread::currentThread() == context_->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(
        context_,
        [this, &call] {
            if (!shutdown_) {
                call();
            }
        },
        Qt::BlockingQueuedConnection);
}

}  // namespace calvix
