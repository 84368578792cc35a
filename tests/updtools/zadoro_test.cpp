// The real zadoro program against the emulated data transfer device.
#include <gtest/gtest.h>

#include <optional>

#include "tests/support/emulated_upd.h"
#include "tests/updtools/tool_run.h"

namespace updtest {
namespace {

struct ZadoroCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<emulators::UpdArchive> archives;  // the device on COM3
    emulators::UpdFaults faults;
    std::string printed;
    std::string catalog;  // "work/_katalog" afterwards
};

const std::string kThreeLines = "1 - ALPHA\r\n2 - \xD3\xE7\xE5\xEB 2\r\n3 - 0123456789ABCDEF\r\n";

std::vector<std::string> Arguments(std::string port, std::string speed = "9600") {
    return {std::move(port), std::move(speed), "x", "200", "y", "Work\\_katalog"};
}

emulators::UpdFaults Silent() {
    emulators::UpdFaults faults;
    faults.silent = true;
    return faults;
}

emulators::UpdFaults BadEntry(unsigned n) {
    emulators::UpdFaults faults;
    faults.badEntry = n;
    return faults;
}

const ZadoroCase kCases[] = {
    {"FiveArguments",
     {"3", "9600", "x", "200", "y"},
     ThreeArchives(),
     {},
     "Wrong parametrs\r\n",
     "(none)"},
    {"SevenArguments",
     {"3", "9600", "x", "200", "y", "Work\\_katalog", "z"},
     ThreeArchives(),
     {},
     "Wrong parametrs\r\n",
     "(none)"},
    {"PortNine", Arguments("9"), ThreeArchives(), {}, "9\r\nWrong port number\r\n", "(none)"},
    {"Speed14400", Arguments("3", "14400"), ThreeArchives(), {}, "3\r\nWrong speed\r\n", "(none)"},
    {"PortThatCannotBeOpened", Arguments("4"), ThreeArchives(), {}, "4\r\nCOM4\r\n", "(none)"},
    {"SilentDevice", Arguments("3"), ThreeArchives(), Silent(),
     "3\r\nCOM3\r\nUPD is not responding", "(none)"},
    {"ThreeArchives",
     Arguments("3"),
     ThreeArchives(),
     {},
     "3\r\nCOM3\r\n" + kThreeLines,
     kThreeLines},
    {"ArgumentOneEchoedAsWritten",
     Arguments(" +03", "115200"),
     ThreeArchives(),
     {},
     " +03\r\nCOM3\r\n" + kThreeLines,
     kThreeLines},
    {"BadEntryEndsTheList", Arguments("3"), ThreeArchives(), BadEntry(2),
     "3\r\nCOM3\r\n1 - ALPHA\r\n", "1 - ALPHA\r\n"},
    {"EmptyCatalogLeavesAnEmptyFile", Arguments("3"), {}, {}, "3\r\nCOM3\r\n", ""},
    {"LineEndsInANameStayOnItsLine",
     Arguments("3"),
     {{"A\r\n2 - B\n", {1, 2, 3}}},
     {},
     "3\r\nCOM3\r\n1 - A??2 - B?\r\n",
     "1 - A??2 - B?\r\n"},
};

class Zadoro : public ::testing::TestWithParam<ZadoroCase> {
  protected:
    testsupport::ScratchFolder folder_;
};

TEST_P(Zadoro, PrintsAndWritesTheCatalog) {
    const ZadoroCase& c = GetParam();
    fs::create_directories(folder_.Path() / "work");
    testsupport::EmulatedUpd upd(3, c.archives, c.faults);
    const ToolRun run = RunTool(ZADORO_PATH, c.arguments, folder_.Path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.printed, c.printed);
    EXPECT_EQ(FileOrNone(folder_.Path() / "work" / "_katalog"), c.catalog);
}

INSTANTIATE_TEST_SUITE_P(Cases, Zadoro, ::testing::ValuesIn(kCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ZadoroDevice, ReplacesAnOldCatalogAndStopsAtTheEndOfList) {
    testsupport::ScratchFolder folder;
    testsupport::WriteBytes(folder.Path() / "work" / "_KATALOG",
                            "1 - OLD\r\n2 - OLD\r\n3 - OLD\r\n4 - A LONGER OLD CATALOG\r\n");
    testsupport::EmulatedUpd upd(3, ThreeArchives());
    const ToolRun run = RunTool(ZADORO_PATH, Arguments("3"), folder.Path());
    EXPECT_EQ(run.printed, "3\r\nCOM3\r\n" + kThreeLines);
    EXPECT_EQ(Listing(folder.Path() / "work"), "_KATALOG");
    EXPECT_EQ(FileOrNone(folder.Path() / "work" / "_KATALOG"), kThreeLines);
    const emulators::UpdStats stats = upd.Line().Stats();
    EXPECT_EQ(stats.opens, 1u);
    EXPECT_EQ(stats.entriesSent, 3u);
    EXPECT_EQ(stats.endOfListSent, 1u);
    EXPECT_EQ(stats.commandsDiscarded, 0u);
}

}  // namespace
}  // namespace updtest
