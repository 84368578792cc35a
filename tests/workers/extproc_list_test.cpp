// The runner's list mode: the command-list file, the shared budget, progress and the stop event.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "tests/workers/runner_fixture.h"

namespace {

using std::chrono::milliseconds;
using testsupport::Calls;
using workers::CThreadExtProc;

class ListMode : public testsupport::RunnerTest {
  protected:
    ListMode() { testsupport::InstallHelper(Folder(), "fenlor.exe"); }

    void Start(const std::string& commandText, int budget, milliseconds second,
               bool inlineCalls = false) {
        worker_ = CThreadExtProc::StartList(commandText, stop_, OnProgress(), OnEnd(), Window(),
                                            budget, Setup(second, inlineCalls));
    }

    pid_t ChildPid() {
        EXPECT_TRUE(testsupport::WaitForFile(Folder() / "child.pid"));
        return std::stoi(testsupport::FileLines(Folder() / "child.pid").at(0));
    }
    static bool Gone(pid_t pid) {
        return testsupport::WaitFor([&] { return testsupport::ProcessGone(pid); },
                                    std::chrono::seconds(20));
    }

    std::shared_ptr<platform::Event> stop_ =
        std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
};

TEST_F(ListMode, TheDownloadFileRunsItsProgramLineWithTheValues) {
    WriteFile("_file.bat",
              std::string(W1251("rem Чтение архива из УПД")) + "\r\n\r\nfenlor.exe %2 %1 dat\r\n");
    Start("_file.bat 7 3", workers::kDownloadBudgetSeconds, milliseconds(1000));
    ASSERT_TRUE(RunToEnd());
    const End end = TheEnd();
    EXPECT_TRUE(end.succeeded);
    EXPECT_EQ(end.window, Window());
    EXPECT_EQ(end.thread, main_.Id());
    EXPECT_EQ(Calls(Folder()), std::vector<std::string>{"fenlor.exe|3|7|dat"});
}

TEST_F(ListMode, OnlyFirstWordsWithLowerCaseExeAreProgramLines) {
    WriteFile("_file.bat",
              "FENLOR.EXE 1\nfenlor.EXE 2\nrem fenlor.exe 3\n  fenlor.exe 4\nfenlor 5\n");
    Start("_file.bat 7 3", 600, milliseconds(100));
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(TheEnd().succeeded);
    EXPECT_EQ(Calls(Folder()), std::vector<std::string>{"fenlor.exe|4"});
}

TEST_F(ListMode, MissingValuesLeaveTheirMarksAndTheFileNameIgnoresCase) {
    WriteFile("_file.bat", "fenlor.exe %1 \"%2 x\"\n");
    Start("  _FILE.BAT  ", 600, milliseconds(100));
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(TheEnd().succeeded);
    EXPECT_EQ(Calls(Folder()), std::vector<std::string>{"fenlor.exe|%1|%2 x"});
}

TEST_F(ListMode, AListThatCannotBeReadFailsWithoutRunningAnything) {
    std::filesystem::create_directories(Folder() / "folder.bat");
    ASSERT_EQ(::mkfifo((Folder() / "fifo.bat").c_str(), 0600), 0);
    for (const char* text : {"missing.bat 7 3", "folder.bat 7 3", "fifo.bat 7 3", ""}) {
        ends_.clear();
        Start(text, 600, milliseconds(100));
        ASSERT_TRUE(RunToEnd()) << text;
        EXPECT_FALSE(TheEnd().succeeded) << text;
    }
    EXPECT_TRUE(ProgressCalls().empty());
    EXPECT_TRUE(Calls(Folder()).empty());
}

TEST_F(ListMode, AProgramThatCannotStartStopsTheList) {
    WriteFile("_file.bat", "missing.exe 1\nfenlor.exe 2\n");
    Start("_file.bat", 600, milliseconds(100));
    ASSERT_TRUE(RunToEnd());
    EXPECT_FALSE(TheEnd().succeeded);
    EXPECT_TRUE(Calls(Folder()).empty());
}

TEST_F(ListMode, AListWithoutProgramLinesSucceeds) {
    WriteFile("_file.bat", "@echo off\r\nrem nothing to run\r\n");
    Start("_file.bat 7 3", 600, milliseconds(100));
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(TheEnd().succeeded);
}

TEST_F(ListMode, TheStopEventEndsTheWaitTerminatesAndFails) {
    WriteFile("_file.bat", "prog.exe spawn child.pid 60000\nfenlor.exe after\n");
    Start("_file.bat 7 3", 600, milliseconds(1000));
    const pid_t child = ChildPid();
    stop_->Set();
    // The budget is ten minutes: only the stop event can end it this soon.
    ASSERT_TRUE(RunToEnd(std::chrono::seconds(30)));
    EXPECT_FALSE(TheEnd().succeeded);
    EXPECT_TRUE(Gone(child));
    EXPECT_TRUE(stop_->IsSet());  // looked at, not taken
    const auto calls = Calls(Folder());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "fenlor.exe|after"), 0);
}

TEST_F(ListMode, AStopEventSetBeforehandStopsTheFirstProgram) {
    WriteFile("_file.bat", "prog.exe sleep 60000\nfenlor.exe after\n");
    stop_->Set();
    Start("_file.bat", 600, milliseconds(1000));
    ASSERT_TRUE(RunToEnd());
    EXPECT_FALSE(TheEnd().succeeded);
    EXPECT_TRUE(ProgressCalls().empty());
    const auto calls = Calls(Folder());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "fenlor.exe|after"), 0);
}

TEST_F(ListMode, ProgramsWithinTheSharedBudgetAllRun) {
    WriteFile("_file.bat", "prog.exe sleep 200\nprog.exe sleep 200\n");
    Start("_file.bat", 600, milliseconds(5));
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(TheEnd().succeeded);
    EXPECT_EQ(Calls(Folder()),
              (std::vector<std::string>{"prog.exe|sleep|200", "end", "prog.exe|sleep|200", "end"}));
}

// Two programs of 200 "seconds" and a long third one in a budget of 600: the third is cut.
TEST_F(ListMode, TheSharedBudgetRunsOutOnTheThirdProgram) {
    WriteFile("_file.bat",
              "prog.exe sleep 1000\nprog.exe sleep 1000\nprog.exe spawn child.pid 60000\n");
    Start("_file.bat", 600, milliseconds(5));
    ASSERT_TRUE(RunToEnd());
    EXPECT_FALSE(TheEnd().succeeded);
    EXPECT_TRUE(Gone(ChildPid()));
    const auto calls = Calls(Folder());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "end"), 2);

    const auto progress = ProgressCalls();
    ASSERT_EQ(progress.size(), 600u);
    const std::string_view prefix = W1251("Общее время считывания: ");
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].position, static_cast<int>(i) + 1);
        EXPECT_EQ(progress[i].maximum, 600);
        EXPECT_EQ(progress[i].thread, main_.Id());
        EXPECT_EQ(progress[i].text.rfind(prefix, 0), 0u) << progress[i].text;
    }
}

TEST_F(ListMode, AnErrorInsideTheRunEndsItOnceAndKillsTheProgram) {
    WriteFile("_file.bat", "prog.exe spawn child.pid 60000\n");
    worker_ = CThreadExtProc::StartList(
        "_file.bat", stop_,
        [&](void*, const CThreadExtProc&) {
            testsupport::WaitForFile(Folder() / "child.pid");
            throw std::runtime_error("progress failed");
        },
        OnEnd(), Window(), 600, Setup(milliseconds(20), true));
    const pid_t child = ChildPid();
    ASSERT_TRUE(RunToEnd());
    EXPECT_FALSE(TheEnd().succeeded);
    EXPECT_TRUE(Gone(child));
}

}  // namespace
