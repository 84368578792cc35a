// Calls from workers to the GUI thread: they run there, and a window that shuts down never
// leaves a worker waiting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QObject>
#include <atomic>
#include <chrono>
#include <thread>

#include "gui/main_thread.h"

namespace calvix {
namespace {

using namespace std::chrono_literals;

template <class Done>
bool ProcessEventsUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(MainThreadCaller, RunsTheCallOnTheGuiThreadAndWaitsForIt) {
    QObject context;
    MainThreadCaller caller(&context);
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        caller.RunAndWait([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainThreadCaller, ShutDownReleasesAWaitingWorkerWithoutRunningItsCall) {
    QObject context;
    MainThreadCaller caller(&context);
    std::atomic<bool> entered{false};
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        entered = true;
        caller.RunAndWait([&] { ran = true; });
    });
    while (!entered) {
        std::this_thread::yield();
    }
    // The GUI thread does not look at its events: without the shut-down this join would hang.
    caller.Shutdown();
    worker.join();
    QApplication::processEvents();
    EXPECT_FALSE(ran);
    caller.RunAndWait([&] { ran = true; });  // after shut-down, also on the GUI thread
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace calvix
