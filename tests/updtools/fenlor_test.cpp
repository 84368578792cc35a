// The real fenlor program against the emulated data transfer device. Every run starts with an
// old "work/dat"; afterwards the folder holds the whole archive or nothing at all.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/support/emulated_upd.h"
#include "tests/updtools/tool_run.h"

namespace updtest {
namespace {

struct FenlorCase {
    const char* name;
    std::vector<std::string> arguments;
    emulators::UpdFaults faults;
    std::string printed;
    std::string data;  // "work/dat" afterwards
};

std::vector<std::string> Arguments(std::string port, std::string speed, std::string archive,
                                   std::string t = "200") {
    return {std::move(port), std::move(speed), "0", std::move(t), std::move(archive), "WORK\\DAT"};
}

std::string Blocks(unsigned count) {
    std::string text;
    for (unsigned b = 1; b <= count; ++b) {
        text += std::to_string(b) + " \r\n";
    }
    return text;
}

const std::string kEntries = "1 = ALPHA\r\n2 = \xD3\xE7\xE5\xEB 2\r\n3 = 0123456789ABCDEF\r\n";
const std::string kOld = "an old download";

emulators::UpdFaults Faults(std::optional<unsigned> emulators::UpdFaults::*fault, unsigned block) {
    emulators::UpdFaults faults;
    faults.*fault = block;
    return faults;
}

emulators::UpdFaults Silent() {
    emulators::UpdFaults faults;
    faults.silent = true;
    return faults;
}

const FenlorCase kCases[] = {
    {"FiveArgumentsTouchNoFile", {"3", "9600", "0", "200", "1"}, {}, "Wrong parametrs\r\n", kOld},
    {"PortNine", Arguments("9", "9600", "1"), {}, "Wrong port number\r\n", "(none)"},
    {"Speed14400", Arguments("3", "14400", "1"), {}, "COM3\nWrong speed\r\n", "(none)"},
    {"PortThatCannotBeOpened", Arguments("4", "9600", "1"), {}, "COM4\nError open port", "(none)"},
    {"SilentDevice", Arguments("3", "9600", "1"), Silent(), "COM3\nReset status error", "(none)"},
    {"ArchiveOnePassesOneEntry",
     Arguments("3", "9600", "1"),
     {},
     "COM3\n1 = ALPHA\r\n" + Blocks(3),
     AsText(Pattern(48, 1))},
    {"ArchiveZeroPassesNoEntry",
     Arguments("3", "9600", "0"),
     {},
     "COM3\n" + Blocks(3),
     AsText(Pattern(48, 1))},
    {"ArchiveTwoEndsInAPaddedBlock",
     Arguments("03", "9600", "+2"),
     {},
     "COM3\n1 = ALPHA\r\n2 = \xD3\xE7\xE5\xEB 2\r\n" + Blocks(3),
     AsText(Pattern(40, 2), 48)},
    {"FiveInACatalogOfThreeTakesTheLast",
     Arguments("3", "115200", "5"),
     {},
     "COM3\n" + kEntries + Blocks(100),
     AsText(Pattern(1600, 3))},
    {"TimeOutZeroStillEndsEveryRead",
     Arguments("3", "9600", "0", "0"),
     {},
     "COM3\n" + Blocks(3),
     AsText(Pattern(48, 1))},
    {"BadBlockFailsTheDownload", Arguments("3", "9600", "1"),
     Faults(&emulators::UpdFaults::badBlock, 3), "COM3\n1 = ALPHA\r\n" + Blocks(2), "(none)"},
    {"ShortBlockFailsTheDownload", Arguments("3", "9600", "1"),
     Faults(&emulators::UpdFaults::shortBlock, 2), "COM3\n1 = ALPHA\r\n" + Blocks(1), "(none)"},
    {"DeviceFallingSilentFailsTheDownload", Arguments("3", "9600", "3"),
     Faults(&emulators::UpdFaults::silentFromBlock, 40), "COM3\n" + kEntries + Blocks(39),
     "(none)"},
    // A damaged entry leaves unknown where the device stands: no archive passes for the chosen.
    {"BadEntryFailsTheDownload", Arguments("3", "9600", "3"),
     Faults(&emulators::UpdFaults::badEntry, 2), "COM3\n1 = ALPHA\r\n", "(none)"},
};

class Fenlor : public ::testing::TestWithParam<FenlorCase> {
  protected:
    fs::path Work() const { return folder_.Path() / "work"; }
    testsupport::ScratchFolder folder_;
};

TEST_P(Fenlor, PrintsAndLeavesTheWholeArchiveOrNothing) {
    const FenlorCase& c = GetParam();
    testsupport::WriteBytes(Work() / "dat", kOld);
    testsupport::EmulatedUpd upd(3, ThreeArchives(), c.faults);
    const ToolRun run = RunTool(FENLOR_PATH, c.arguments, folder_.Path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.printed, c.printed);
    EXPECT_EQ(FileOrNone(Work() / "dat"), c.data);
    EXPECT_EQ(Listing(Work()), c.data == "(none)" ? "" : "dat");
}

INSTANTIATE_TEST_SUITE_P(Cases, Fenlor, ::testing::ValuesIn(kCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

class FenlorRun : public ::testing::Test {
  protected:
    fs::path Work() const { return folder_.Path() / "work"; }
    testsupport::ScratchFolder folder_;
};

TEST_F(FenlorRun, NoBlockIsRequestedAfterABadOne) {
    testsupport::EmulatedUpd upd(3, ThreeArchives(), Faults(&emulators::UpdFaults::badBlock, 2));
    fs::create_directories(Work());
    RunTool(FENLOR_PATH, Arguments("3", "9600", "1"), folder_.Path());
    const emulators::UpdStats stats = upd.Line().Stats();
    EXPECT_EQ(stats.blocksSent, 2u);
    EXPECT_EQ(stats.requests, 4u);  // open, one entry, two blocks
}

TEST_F(FenlorRun, AFolderThatRefusesTheFileRequestsNothing) {
    testsupport::EmulatedUpd upd(3, ThreeArchives());
    testsupport::WriteBytes(Work() / "dat", kOld);
    const ToolRun run =
        RunTool(FENLOR_PATH, {"3", "9600", "0", "200", "2", "Missing\\DAT"}, folder_.Path());
    EXPECT_EQ(run.printed, "COM3\nError creating file");
    EXPECT_EQ(upd.Line().Stats().requests, 1u);
    EXPECT_EQ(FileOrNone(Work() / "dat"), kOld);  // not the output path
    EXPECT_FALSE(fs::exists(folder_.Path() / "Missing"));
}

TEST_F(FenlorRun, AFolderAtTheOutputPathIsRefusedAndKept) {
    testsupport::EmulatedUpd upd(3, ThreeArchives());
    fs::create_directories(Work() / "dat");
    const ToolRun run = RunTool(FENLOR_PATH, Arguments("3", "9600", "1"), folder_.Path());
    EXPECT_EQ(run.printed, "COM3\nError creating file");
    EXPECT_TRUE(fs::is_directory(Work() / "dat"));
    EXPECT_EQ(Listing(Work()), "dat");
}

TEST_F(FenlorRun, ALinkedOutputReplacesTheFileItNames) {
    testsupport::EmulatedUpd upd(3, ThreeArchives());
    testsupport::WriteBytes(Work() / "archive.bin", kOld);
    fs::create_symlink("archive.bin", Work() / "dat");
    const ToolRun run = RunTool(FENLOR_PATH, Arguments("3", "9600", "1"), folder_.Path());
    EXPECT_EQ(run.printed, "COM3\n1 = ALPHA\r\n" + Blocks(3));
    EXPECT_TRUE(fs::is_symlink(Work() / "dat"));
    EXPECT_EQ(FileOrNone(Work() / "archive.bin"), AsText(Pattern(48, 1)));
}

// A runner that gives up kills the download: the old output is gone from the start, and at
// most the temporary file remains.
TEST_F(FenlorRun, AKilledDownloadLeavesNoOutput) {
    for (int signal : {SIGKILL, SIGTERM}) {
        testsupport::EmulatedUpd upd(3, ThreeArchives());
        testsupport::WriteBytes(Work() / "dat", kOld);
        auto fenlor = StartTool(FENLOR_PATH, Arguments("3", "1200", "3"), folder_.Path());
        ASSERT_TRUE(testsupport::WaitFor(
            [&] {
                return testsupport::FileText(folder_.Path() / "printed.out").find("\n5 \r\n") !=
                       std::string::npos;
            },
            60s));
        fenlor->Signal(signal);
        EXPECT_EQ(fenlor->Wait(30s), 1000 + signal);
        EXPECT_FALSE(fs::exists(Work() / "dat")) << signal;
        const std::string left = Listing(Work());
        if (signal == SIGKILL) {
            EXPECT_TRUE(left.starts_with(".~") && left.ends_with(".tmp")) << left;
        } else {
            EXPECT_EQ(left, "");
        }
        fs::remove_all(Work());
    }
}

}  // namespace
}  // namespace updtest
