// The console tools of the demo as programs: hcread reads the device of calvix.ini with the
// main window's reading worker, reportview prints and saves a report corrected as calvix shows it.
#include <gtest/gtest.h>

#include "emulators/hc_line.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/report_files.h"
#include "tests/builder/emulated_data.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC

std::vector<std::string> Lines(const std::string& text) {
    return buildertest::ReportLines(text);
}

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

Result RunProgram(const std::vector<std::string>& argv, const fs::path& folder,
                  const std::vector<std::string>& env = {}) {
    testsupport::Process process(argv, folder / "stdout", env, folder);
    Result result;
    result.exitCode = process.Wait(std::chrono::seconds(120));
    result.out = buildertest::ReadText(folder / "stdout");
    result.err = buildertest::ReadText(folder / "stdout.err");
    return result;
}

TEST(Hcread, ReadsTheDeviceOfTheConfigurationAndListsItsReports) {
    testsupport::ScratchFolder folder;
    fs::create_directories(folder.Path() / "hc");
    std::string ini = buildertest::ReadText(fs::path(CALVIX_SOURCE_DIR) / "site" / "calvix.ini");
    for (std::size_t at = ini.find("=9600"); at != std::string::npos; at = ini.find("=9600")) {
        ini.replace(at, 5, "=115200");  // the line runs at the port's rate
    }
    buildertest::WriteText(folder.Path() / "calvix.ini", ini);
    emulators::HcConfig device;
    device.address = 3;  // calvix.ini's "абонент"
    device.version = 60;
    device.clockEpoch = kClock;
    emulators::HcLine line({device});
    const Result run =
        RunProgram({HCREAD_PROGRAM}, folder.Path(), {"CALVIX_COM1=" + line.SlavePath()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    for (const char* expected :
         {"take\t07.12.2024", "version\t60", "folder\tsbl",
          "month\tprev_hw\tВедомость учета тепловой энергии за ноябрь 2024 г",
          "days\tdays_hw\tВедомость учета тепловой энергии по суткам"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    }
    EXPECT_GT(fs::file_size(folder.Path() / "hc" / "dat1hc"), 1000u);
}

class Reportview : public ::testing::Test {
  protected:
    void SetUp() override {
        emulators::HcConfig config;
        config.version = 60;
        config.clockEpoch = kClock;
        config.hourlyRecords = 40;
        buildertest::ReadEmulatedVersion60(config, Folder());
        buildertest::CopyShippedTemplates(Folder());
        std::ostringstream err;
        ASSERT_EQ(builder::RunBuilder({"1", "3", "sbl\\hour_hw.sbl", "hc\\dat1hc",
                                       "hc\\txt\\061224.txt", "24", "12", "6"},
                                      Folder(), err),
                  builder::kExitDone);
        buildertest::WriteText(Folder() / "hc" / "txt" / "plain.txt", "no table\r\n");
    }
    fs::path Folder() const { return folder_.Path(); }
    // The report corrected in-process, as the main window does it (1251).
    std::vector<std::string> Corrected(calvix::ReportDates& dates) const {
        dates.facts = calvix::InspectDataFile(Folder() / "hc" / "dat1hc", "TV540");
        std::vector<std::string> lines;
        EXPECT_TRUE(calvix::LoadTextLines(Folder() / "hc" / "txt" / "061224.txt", lines));
        calvix::CorrectReport(lines,
                              calvix::MakeReportContext(dates, calvix::WorkState::stHCHourly));
        return lines;
    }
    testsupport::ScratchFolder folder_;
};

TEST_F(Reportview, PrintsTheReportAsTheMainWindowShowsIt) {
    const Result run = RunProgram(
        {REPORTVIEW_PROGRAM, "hc/dat1hc", "hc/txt/061224.txt", "--state", "5"}, Folder());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    calvix::ReportDates dates;
    std::string expected;
    for (const std::string& line : Corrected(dates)) {
        expected += platform::Cp1251ToUtf8(line) + "\n";
    }
    EXPECT_EQ(run.out, expected);
    EXPECT_TRUE(Lines(run.out).at(34).starts_with("|Итого|"));
}

TEST_F(Reportview, SavesIntoTheArchiveUnderTheNameTheMainWindowGives) {
    const Result run = RunProgram({REPORTVIEW_PROGRAM, "hc/dat1hc", "hc/txt/061224.txt", "--state",
                                   "5", "--save-archive", "6 декабря 2024 г"},
                                  Folder());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    calvix::ReportDates dates;
    const std::vector<std::string> expected = Corrected(dates);
    const std::string title = dates.facts.deviceTitle + platform::Utf8ToCp1251("6 декабря 2024 г");
    std::vector<std::string> saved;
    ASSERT_TRUE(calvix::LoadTextLines(
        calvix::ProgramPath(calvix::ArchiveReportPath(title), Folder()), saved));
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder() / "Archive"), {}), 1);
}

struct Refusal {
    std::vector<std::string> args;
    const char* message;
};

class ReportviewRefusals : public Reportview, public ::testing::WithParamInterface<Refusal> {};

TEST_P(ReportviewRefusals, SayWhyOnTheErrorOutput) {
    std::vector<std::string> argv{REPORTVIEW_PROGRAM};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    const Result run = RunProgram(argv, Folder());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, ReportviewRefusals,
    ::testing::Values(
        Refusal{{"hc/dat1hc"}, "a data file and a report are needed"},
        Refusal{{"hc/dat1hc", "hc/txt/none.txt"}, "cannot read the report hc/txt/none.txt"},
        Refusal{{"hc/none", "hc/txt/061224.txt"}, "cannot read the data file hc/none"},
        Refusal{{"hc/dat1hc", "hc/txt/061224.txt", "--state", "6"},
                "a several-day report needs --begin and --end"},
        Refusal{{"hc/dat1hc", "hc/txt/061224.txt", "--state", "6", "--begin", "31.11.2024", "--end",
                 "01.12.2024"},
                "not a date (dd.mm.yyyy): 31.11.2024"},
        Refusal{{"hc/dat1hc", "hc/txt/061224.txt", "--state", "9"}, "no work state: 9"},
        Refusal{{"hc/dat1hc", "hc/txt/plain.txt"}, "the report has no table"}));

}  // namespace
