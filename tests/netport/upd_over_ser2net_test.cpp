// zadoro and fenlor against the emulated УПД through a real ser2net, in both of its modes: what
// they print and write is what they print and write over the local port.
#include <gtest/gtest.h>

#include "tests/support/emulated_upd.h"
#include "tests/support/ser2net_server.h"
#include "tests/updtools/tool_run.h"

namespace updtest {
namespace {

using testsupport::ComRoute;
using testsupport::Road;

struct UpdCase {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    const char* output;  // under the working folder
    Road road;
};

const std::vector<std::string> kCatalog = {"3", "9600", "x", "200", "y", "Work\\_katalog"};
const std::vector<std::string> kDownload = {"3", "9600", "0", "200", "3", "Work\\dat"};

const UpdCase kCases[] = {
    {"CatalogOverRfc2217", ZADORO_PATH, kCatalog, "work/_katalog", Road::kRfc2217},
    {"DownloadOverRfc2217", FENLOR_PATH, kDownload, "work/dat", Road::kRfc2217},
    {"CatalogOverRawTcp", ZADORO_PATH, kCatalog, "work/_katalog", Road::kRaw},
    {"DownloadOverRawTcp", FENLOR_PATH, kDownload, "work/dat", Road::kRaw},
};

struct Result {
    ToolRun run;
    std::string output;
};

Result RunOn(const UpdCase& c, Road road) {
    testsupport::ScratchFolder folder;
    fs::create_directories(folder.Path() / "work");
    testsupport::EmulatedUpd upd(3, ThreeArchives());
    // The server's own line settings matter in raw mode only: the device's, MARK parity.
    ComRoute route(3, upd.Line().SlavePath(), road, "9600m81");
    Result result{RunTool(c.program, c.arguments, folder.Path()), {}};
    result.output = FileOrNone(folder.Path() / c.output);
    return result;
}

void PrintTo(const UpdCase& c, std::ostream* out) {
    *out << c.name;
}

class UpdThroughSer2net : public ::testing::TestWithParam<UpdCase> {};

TEST_P(UpdThroughSer2net, PrintsAndWritesAsOverTheLocalPort) {
    const UpdCase& c = GetParam();
    const Result local = RunOn(c, Road::kLocal);
    ASSERT_EQ(local.run.exitCode, 0);
    ASSERT_NE(local.output, "(none)") << local.run.printed;
    const Result network = RunOn(c, c.road);
    EXPECT_EQ(network.run.exitCode, 0);
    EXPECT_EQ(network.run.printed, local.run.printed);
    EXPECT_TRUE(network.output == local.output)
        << network.output.size() << " bytes, not " << local.output.size();
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdThroughSer2net, ::testing::ValuesIn(kCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace updtest
