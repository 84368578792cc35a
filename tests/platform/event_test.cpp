#include "platform/event.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

using platform::Event;
using std::chrono::milliseconds;

TEST(Event, AutoResetWakesOneWaiterAndClears) {
    Event event;
    event.Set();
    EXPECT_TRUE(event.Wait(milliseconds(0)));
    EXPECT_FALSE(event.Wait(milliseconds(0)));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event event(Event::Kind::kManualReset);
    event.Set();
    EXPECT_TRUE(event.Wait(milliseconds(0)));
    EXPECT_TRUE(event.Wait(milliseconds(0)));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

TEST(Event, WaitForAnyNamesTheSignalledEventOrTimesOut) {
    Event first;
    Event second;
    EXPECT_FALSE(platform::WaitForAny({&first, &second}, milliseconds(10)).has_value());
    std::thread setter([&] { second.Set(); });
    const auto which = platform::WaitForAny({&first, &second}, std::chrono::seconds(10));
    setter.join();
    ASSERT_TRUE(which.has_value());
    EXPECT_EQ(*which, 1u);
    EXPECT_FALSE(second.IsSet());  // taken
}

TEST(Event, TwoWaitersOnAnAutoResetEventShareOneSignal) {
    Event event;
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (event.Wait(milliseconds(300))) {
            ++woken;
        }
    };
    std::thread a(waiter);
    std::thread b(waiter);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 1);
}

}  // namespace
