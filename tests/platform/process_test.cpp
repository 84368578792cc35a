#include "platform/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event.h"
#include "tests/platform/child_helper.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::ChildProcess;
using std::chrono::milliseconds;
using testsupport::Calls;
using testsupport::InstallHelper;

struct SplitCase {
    const char* line;
    std::vector<std::string> args;
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    const SplitCase cases[] = {
        {"", {}},
        {"  \t ", {}},
        {"a b c", {"a", "b", "c"}},
        {"  p\ta \t b  ", {"p", "a", "b"}},
        {"\"C:\\my dir\\p.exe\" x", {"C:\\my dir\\p.exe", "x"}},
        {"\"a b\"c d", {"a b", "c", "d"}},
        {"C:\\dir\\p.exe \"C:\\Hello there.txt\"", {"C:\\dir\\p.exe", "C:\\Hello there.txt"}},
        {"p \"abc\" d e", {"p", "abc", "d", "e"}},
        {"p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
        {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
        {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
        {"p \"hello\\\\\"", {"p", "hello\\"}},
        {"p \"hello\\\"there\"", {"p", "hello\"there"}},
        {"p a\\\\", {"p", "a\\\\"}},
        {"p \"\" x \"\"", {"p", "", "x", ""}},
        {"p a\"b\"\" c d", {"p", "ab\"", "c", "d"}},
        {"p \"\"\"a\"", {"p", "\"a"}},
        {"p \"unclosed arg", {"p", "unclosed arg"}},
        {"fenlor.exe 3 7 dat", {"fenlor.exe", "3", "7", "dat"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(platform::SplitCommandLine(c.line), c.args) << c.line;
    }
}

class ProgramFolder : public ::testing::Test {
  protected:
    ProgramFolder() {
        InstallHelper(Folder(), "prog.exe");
        InstallHelper(Folder(), "hc/Touch180");
        InstallHelper(Folder(), "tool.exe");
        InstallHelper(Folder(), "my dir/p.exe");
        std::ofstream(Folder() / "plain.txt") << "text";
        fs::create_directories(Folder() / "folder.exe");
    }
    const fs::path& Folder() const { return scratch_.Path(); }

    testsupport::ScratchFolder scratch_;
};

TEST_F(ProgramFolder, FindsProgramsInTheWorkingFolderOnly) {
    const struct {
        const char* program;
        const char* found;  // relative to the folder; nullptr: none
    } cases[] = {
        {"prog.exe", "prog.exe"},
        {"PROG.EXE", "prog.exe"},
        {".\\prog.exe", "prog.exe"},
        {"HC\\touch180.exe", "hc/Touch180"},
        {"hc/TOUCH180", "hc/Touch180"},
        {"tool", "tool.exe"},
        {"plain.txt", nullptr},
        {"folder.exe", nullptr},
        {"missing.exe", nullptr},
        {"sh", nullptr},
        {"", nullptr},
        {"prog.bat", nullptr},
    };
    for (const auto& c : cases) {
        const auto found = platform::FindProgram(c.program, Folder());
        if (c.found == nullptr) {
            EXPECT_FALSE(found.has_value()) << c.program;
        } else {
            ASSERT_TRUE(found.has_value()) << c.program;
            EXPECT_TRUE(fs::equivalent(*found, Folder() / c.found)) << c.program;
        }
    }
}

TEST_F(ProgramFolder, NonExecutableFileIsNoProgram) {
    std::ofstream(Folder() / "data.exe") << "MZ";
    ::chmod((Folder() / "data.exe").c_str(), 0644);
    EXPECT_FALSE(platform::FindProgram("data.exe", Folder()).has_value());
}

// The package's tools beside the running program are found when the working folder lacks them;
// a copy in the working folder comes first.
TEST_F(ProgramFolder, OwnFolderAfterTheWorkingFolder) {
    const fs::path own = platform::OwnProgramFolder();
    ASSERT_FALSE(own.empty());
    const std::string name = "beside-" + std::to_string(::getpid());
    const fs::path beside = own / name;
    std::ofstream(beside) << "#!/bin/sh\n";
    fs::permissions(beside, fs::perms::owner_all);
    const auto found = platform::FindProgram(name + ".exe", Folder());
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(fs::equivalent(*found, beside));
    std::ofstream(Folder() / name) << "#!/bin/sh\n";
    fs::permissions(Folder() / name, fs::perms::owner_all);
    EXPECT_TRUE(fs::equivalent(*platform::FindProgram(name + ".exe", Folder()), Folder() / name));
    fs::remove(beside);
}

// Both ways of waiting: on a pidfd, and by looking at the process (kernels without pidfd).
class ChildProcessTest : public ProgramFolder, public ::testing::WithParamInterface<bool> {
  protected:
    std::optional<ChildProcess> Start(const std::string& line) {
        ChildProcess::Options options;
        options.workingFolder = Folder();
        options.withoutPidfd = GetParam();
        return ChildProcess::Start(line, options);
    }
};

TEST_P(ChildProcessTest, RunsTheSplitArgumentsInTheWorkingFolder) {
    auto child = Start("\"my dir\\p.exe\" \"a b\" c\\\"d e\\\\\" f");
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(child->Wait(milliseconds(20000)), ChildProcess::WaitEnd::kExited);
    EXPECT_EQ(child->ExitCode(), 0);
    EXPECT_EQ(Calls(Folder()), std::vector<std::string>{"my dir\\p.exe|a b|c\"d|e\\ f"});
}

TEST_P(ChildProcessTest, ReportsTheExitCode) {
    auto child = Start("prog.exe exit 7");
    ASSERT_TRUE(child.has_value());
    EXPECT_FALSE(child->ExitCode().has_value());
    EXPECT_EQ(child->Wait(milliseconds(20000)), ChildProcess::WaitEnd::kExited);
    EXPECT_TRUE(child->Exited());
    EXPECT_EQ(child->ExitCode(), 7);
}

TEST_P(ChildProcessTest, LinesNamingNoProgramDoNotStart) {
    for (const char* line : {"", "   ", "missing.exe 1", "plain.txt", "folder.exe", "sh -c true"}) {
        EXPECT_FALSE(Start(line).has_value()) << line;
    }
    EXPECT_FALSE(fs::exists(Folder() / "calls.log"));
}

TEST_P(ChildProcessTest, TimeOutThenTerminateKillsTheProgramAndItsChildren) {
    auto child = Start("prog.exe spawn child.pid 60000");
    ASSERT_TRUE(child.has_value());
    ASSERT_TRUE(testsupport::WaitForFile(Folder() / "child.pid"));
    const pid_t grandchild = std::stoi(testsupport::FileLines(Folder() / "child.pid").at(0));
    EXPECT_EQ(child->Wait(milliseconds(50)), ChildProcess::WaitEnd::kTimedOut);
    child->Terminate();
    EXPECT_TRUE(child->Exited());
    EXPECT_EQ(child->ExitCode(), 128 + SIGKILL);
    EXPECT_TRUE(testsupport::WaitFor([&] { return testsupport::ProcessGone(grandchild); },
                                     std::chrono::seconds(20)));
}

TEST_P(ChildProcessTest, AnEventEndsTheWaitAndIsNotTaken) {
    auto child = Start("prog.exe sleep 60000");
    ASSERT_TRUE(child.has_value());
    platform::Event idle;
    platform::Event stop;
    std::thread setter([&] { stop.Set(); });
    std::size_t which = 99;
    EXPECT_EQ(child->Wait(milliseconds(60000), {&idle, &stop}, &which),
              ChildProcess::WaitEnd::kEvent);
    setter.join();
    EXPECT_EQ(which, 1u);
    EXPECT_TRUE(stop.IsSet());
    EXPECT_FALSE(child->Exited());
}

TEST_P(ChildProcessTest, AnEndedProgramComesBeforeASignalledEvent) {
    auto child = Start("prog.exe exit 0");
    ASSERT_TRUE(child.has_value());
    ASSERT_TRUE(
        testsupport::WaitFor([&] { return !Calls(Folder()).empty(); }, std::chrono::seconds(20)));
    platform::Event stop(platform::Event::Kind::kManualReset, true);
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return child->Wait(milliseconds(0), {&stop}) == ChildProcess::WaitEnd::kExited; },
        std::chrono::seconds(20)));
}

TEST_P(ChildProcessTest, DestroyingARunningProgramKillsIt) {
    pid_t pid = -1;
    {
        auto child = Start("prog.exe sleep 60000");
        ASSERT_TRUE(child.has_value());
        pid = child->Pid();
        ASSERT_TRUE(testsupport::WaitFor([&] { return !Calls(Folder()).empty(); },
                                         std::chrono::seconds(20)));
    }
    // Reaped by the destructor: the pid names nothing of ours any more.
    EXPECT_TRUE(testsupport::ProcessGone(pid));
    EXPECT_EQ(Calls(Folder()).size(), 1u);  // no "end"
}

TEST_P(ChildProcessTest, NoWindowNoInheritedDescriptorsOwnGroup) {
    const int leaked = ::open("/dev/null", O_RDONLY);  // without close-on-exec
    ASSERT_GE(leaked, 0);
    auto fds = Start("prog.exe fds fds.txt");
    auto group = Start("prog.exe pgid pgid.txt");
    ASSERT_TRUE(fds.has_value());
    ASSERT_TRUE(group.has_value());
    EXPECT_EQ(fds->Wait(milliseconds(20000)), ChildProcess::WaitEnd::kExited);
    EXPECT_EQ(group->Wait(milliseconds(20000)), ChildProcess::WaitEnd::kExited);
    ::close(leaked);
    const auto lines = testsupport::FileLines(Folder() / "fds.txt");
    for (const char* stream : {"0 -> /dev/null", "1 -> /dev/null", "2 -> /dev/null"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), stream), lines.end()) << stream;
    }
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "fd " + std::to_string(leaked)), lines.end());
    const auto ids = testsupport::FileLines(Folder() / "pgid.txt");
    ASSERT_EQ(ids.size(), 1u);
    const std::string pid = std::to_string(group->Pid());
    EXPECT_EQ(ids[0], pid + " " + pid);
}

INSTANTIATE_TEST_SUITE_P(Waits, ChildProcessTest, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Polled" : "Pidfd"; });

}  // namespace
