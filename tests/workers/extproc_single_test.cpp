// The runner's single mode, its ownership and its end in every case.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/workers/runner_fixture.h"

namespace {

using std::chrono::milliseconds;
using testsupport::Calls;
using workers::CThreadExtProc;
using Clock = std::chrono::steady_clock;

class SingleMode : public testsupport::RunnerTest {};

TEST_F(SingleMode, AProgramThatEndsInTimeSucceeds) {
    worker_ = CThreadExtProc::StartSingle("prog.exe exit 3", 30, Window(), OnEnd(),
                                          Setup(milliseconds(100)));
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_TRUE(end.succeeded);  // its exit code is not looked at
    EXPECT_EQ(end.window, Window());
    EXPECT_EQ(end.thread, main_.Id());
    EXPECT_EQ(Calls(Folder()), std::vector<std::string>{"prog.exe|exit|3"});
}

TEST_F(SingleMode, AProgramOverItsBudgetIsTerminatedWithItsChildren) {
    const Clock::time_point start = Clock::now();
    worker_ = CThreadExtProc::StartSingle("prog.exe spawn child.pid 60000", 30, Window(), OnEnd(),
                                          Setup(milliseconds(20)));
    ASSERT_TRUE(RunToEnd());
    EXPECT_FALSE(TheEnd().succeeded);
    // Never before budget x second + 1 ms.
    EXPECT_GE(Clock::now() - start, milliseconds(30 * 20 + 1));
    ASSERT_TRUE(testsupport::WaitForFile(Folder() / "child.pid"));
    const pid_t child = std::stoi(testsupport::FileLines(Folder() / "child.pid").at(0));
    EXPECT_TRUE(testsupport::WaitFor([&] { return testsupport::ProcessGone(child); },
                                     std::chrono::seconds(20)));
}

TEST_F(SingleMode, ABudgetOfZeroWaitsOneMillisecond) {
    worker_ = CThreadExtProc::StartSingle("prog.exe sleep 60000", 0, Window(), OnEnd(),
                                          Setup(milliseconds(1000)));
    ASSERT_TRUE(RunToEnd(milliseconds(20000)));
    EXPECT_FALSE(TheEnd().succeeded);
}

TEST_F(SingleMode, LinesThatStartNothingFail) {
    WriteFile("data.exe", "not a program");
    for (const char* line : {"", "   ", "missing.exe 1 3", "sh -c true", "data.exe", "\"\" x"}) {
        ends_.clear();
        worker_ = CThreadExtProc::StartSingle(line, 30, Window(), OnEnd(), Setup(milliseconds(10)));
        ASSERT_TRUE(RunToEnd()) << line;
        EXPECT_FALSE(TheEnd().succeeded) << line;
    }
    EXPECT_TRUE(Calls(Folder()).empty());
}

TEST_F(SingleMode, TheBuilderLineIsSplitAndItsProgramFoundLikeOnWindows) {
    testsupport::InstallHelper(Folder(), "touch");
    testsupport::InstallHelper(Folder(), "hc/touch180");
    const char* lines[] = {
        "touch.exe 1 3 \"sbl\\month 1.sbl\" hc\\dat1hc \"txt\\out \\\"1\\\".txt\"",
        "HC\\Touch180.EXE 1 3 sbl\\d180.sbl hc\\dat2hc txt\\180.txt 01.02.2026 10.02.2026",
    };
    for (const char* line : lines) {
        ends_.clear();
        worker_ =
            CThreadExtProc::StartSingle(line, 30, Window(), OnEnd(), Setup(milliseconds(100)));
        ASSERT_TRUE(RunToEnd()) << line;
        EXPECT_TRUE(TheEnd().succeeded) << line;
    }
    EXPECT_EQ(
        Calls(Folder()),
        (std::vector<std::string>{
            "touch.exe|1|3|sbl\\month 1.sbl|hc\\dat1hc|txt\\out \"1\".txt",
            "HC\\Touch180.EXE|1|3|sbl\\d180.sbl|hc\\dat2hc|txt\\180.txt|01.02.2026|10.02.2026",
        }));
}

TEST_F(SingleMode, CancellingEndsTheWaitKillsTheProgramAndReportsFailure) {
    worker_ = CThreadExtProc::StartSingle("prog.exe sleep 60000", 600, Window(), OnEnd(),
                                          Setup(milliseconds(1000)));
    ASSERT_TRUE(main_.PumpUntil([&] { return !Calls(Folder()).empty(); }));
    worker_.Cancel();
    ASSERT_TRUE(RunToEnd());
    EXPECT_FALSE(TheEnd().succeeded);
    EXPECT_EQ(Calls(Folder()).size(), 1u);  // no "end"
}

TEST_F(SingleMode, DroppingTheHandleOfARunningWorkerEndsItFirst) {
    worker_ = CThreadExtProc::StartSingle("prog.exe spawn child.pid 60000", 600, Window(), OnEnd(),
                                          Setup(milliseconds(1000), true));
    ASSERT_TRUE(testsupport::WaitForFile(Folder() / "child.pid"));
    worker_ = {};  // cancels and joins
    EXPECT_FALSE(TheEnd().succeeded);
    const pid_t child = std::stoi(testsupport::FileLines(Folder() / "child.pid").at(0));
    EXPECT_TRUE(testsupport::WaitFor([&] { return testsupport::ProcessGone(child); },
                                     std::chrono::seconds(20)));
}

TEST_F(SingleMode, TheEndCallbackMayDropTheHandle) {
    std::optional<workers::WorkerThread> handle;
    bool ended = false;
    handle = CThreadExtProc::StartSingle(
        "prog.exe exit 0", 30, Window(),
        [&](void*, bool succeeded) {
            EXPECT_TRUE(succeeded);
            handle.reset();  // the worker waits for this very call
            ended = true;
        },
        Setup(milliseconds(100)));
    ASSERT_TRUE(main_.PumpUntil([&] { return ended; }));
    EXPECT_FALSE(handle.has_value());
    // The next worker starts and ends normally beside the reaped one.
    worker_ = CThreadExtProc::StartSingle("prog.exe exit 0", 30, Window(), OnEnd(),
                                          Setup(milliseconds(100)));
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(TheEnd().succeeded);
}

TEST_F(SingleMode, AFailingMainThreadCallIsSwallowed) {
    workers::ExtProcSetup setup = Setup(milliseconds(100));
    setup.runOnMainThread = [](const std::function<void()>&) { throw std::runtime_error("gone"); };
    worker_ = CThreadExtProc::StartSingle("prog.exe exit 0", 30, Window(), OnEnd(), setup);
    ASSERT_TRUE(testsupport::WaitFor([&] { return worker_.Finished(); }, std::chrono::seconds(20)));
    worker_.Join();
    EXPECT_TRUE(Ends().empty());
}

}  // namespace
