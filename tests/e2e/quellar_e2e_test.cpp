// The real quellar and devemu programs, over a pseudo-terminal, with the program's own waits.
#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::FileText;
using testsupport::Process;

class QuellarProgram : public ::testing::Test {
  protected:
    // Starts the emulator program with `options` and waits for its link.
    void StartEmulator(std::vector<std::string> options) {
        std::vector<std::string> argv = {DEVEMU_PATH,     "hc",      "--link",
                                         Link().string(), "--clock", "2024-12-07 14:00:00"};
        argv.insert(argv.end(), options.begin(), options.end());
        emulator_ = std::make_unique<Process>(argv, folder_.Path() / "devemu.out");
        ASSERT_TRUE(emulator_->Started());
        ASSERT_TRUE(testsupport::WaitFor([&] { return fs::exists(Link()); }, 20s))
            << FileText(folder_.Path() / "devemu.out.err");
    }

    std::unique_ptr<Process> StartQuellar(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {QUELLAR_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<Process>(argv, Printed(),
                                         std::vector<std::string>{"CALVIX_COM2=" + Link().string()},
                                         folder_.Path());
    }

    fs::path Link() const { return folder_.Path() / "COM2"; }
    fs::path Printed() const { return folder_.Path() / "quellar.out"; }
    fs::path Output() const { return folder_.Path() / "dat1hc"; }
    std::string List() const { return std::string(CALVIX_SOURCE_DIR) + "/site/hc/tv540wi.opr"; }

    testsupport::ScratchFolder folder_;
    std::unique_ptr<Process> emulator_;
};

TEST_F(QuellarProgram, ReadsTheShippedListOverAPacedLine) {
    StartEmulator({"--baud", "9600"});
    auto quellar = StartQuellar({"2", "9600", "0", "200", "1", List(), Output().string()});
    ASSERT_EQ(quellar->Wait(120s), 0) << FileText(Printed());
    const std::string printed = FileText(Printed());
    EXPECT_EQ(printed.rfind("COM2\n0x1 ", 0), 0u) << printed;
    EXPECT_EQ(printed.substr(printed.size() - 3), "OK\n");
    const std::string data = FileText(Output());
    ASSERT_GE(data.size(), 38u);
    EXPECT_EQ(data.substr(0, 5), std::string("\x00\x11\x05\xFF\x00", 5));
    EXPECT_EQ(data.substr(data.size() - 19, 5), std::string("\x00\x11\x05\xFF\x01", 5));
}

TEST_F(QuellarProgram, ASilentDeviceCostsFourAttemptsAndLeavesNoFile) {
    StartEmulator({});
    auto quellar = StartQuellar({"2", "115200", "0", "50", "9", List(), Output().string()});
    // Three waits of 10 s between the four attempts of the first data line.
    EXPECT_EQ(quellar->Wait(120s), 255);
    EXPECT_FALSE(fs::exists(Output()));
    const std::string printed = FileText(Printed());
    EXPECT_EQ(printed.find("OK"), std::string::npos);
}

TEST_F(QuellarProgram, AnInterruptedRunRemovesItsPartialFile) {
    StartEmulator({"--polls", "8", "--baud", "1200"});
    auto quellar = StartQuellar({"2", "1200", "0", "600", "1", List(), Output().string()});
    ASSERT_TRUE(testsupport::WaitFor([&] { return fs::exists(Output()); }, 30s));
    quellar->Signal(SIGTERM);
    EXPECT_EQ(quellar->Wait(30s), 255);
    EXPECT_FALSE(fs::exists(Output()));
}

TEST_F(QuellarProgram, AReaderThatGoesAwayLeavesNoPartialFile) {
    StartEmulator({"--baud", "9600"});
    // The operator's pipeline: head takes 200 bytes of the frames and ends.
    const std::string command = "'" + std::string(QUELLAR_PATH) + "' 2 9600 0 200 1 '" + List() +
                                "' '" + Output().string() + "' | head -c 200";
    Process shell({"/bin/sh", "-c", command}, Printed(),
                  std::vector<std::string>{"CALVIX_COM2=" + Link().string()}, folder_.Path());
    ASSERT_EQ(shell.Wait(120s), 0) << FileText(Printed().string() + ".err");
    EXPECT_EQ(FileText(Printed()).size(), 200u);
    // quellar ends at its next line of output; the shell does not wait for it.
    EXPECT_TRUE(testsupport::WaitFor([&] { return !fs::exists(Output()); }, 60s))
        << "a partial data file of " << fs::file_size(Output()) << " bytes";
}

TEST_F(QuellarProgram, ATimeOutOfZeroTakesTheOneForTheSpeed) {
    StartEmulator({"--baud", "38400"});
    auto quellar = StartQuellar({"2", "38400", "0", "0", "1", List(), Output().string()});
    ASSERT_EQ(quellar->Wait(120s), 0) << FileText(Printed());
    const std::string data = FileText(Output());
    ASSERT_GE(data.size(), 38u);
    EXPECT_EQ(data.substr(data.size() - 19, 5), std::string("\x00\x11\x05\xFF\x01", 5));
}

TEST_F(QuellarProgram, UsageGoesOutWithoutALineEnd) {
    auto quellar = StartQuellar({"2", "9600"});
    EXPECT_EQ(quellar->Wait(30s), 0);
    EXPECT_EQ(FileText(Printed()),
              "Use: quellar.exe port port_speed use_deep_archives timeout abon_number config_file "
              "output_file");
}

}  // namespace
