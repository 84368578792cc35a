#include "gui/rules/scheduled_reports.h"

#include <gtest/gtest.h>

#include <fstream>

#include "gui/rules/report_files.h"
#include "platform/codepage.h"
#include "tests/support/scratch_folder.h"

namespace calvix {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIni =
    "[Чтение данных из TV540]\r\n"
    "тип=TV540\r\n"
    "[TV540 версия 60]\r\n"
    "список шаблонов=Отчеты\r\n"
    "папка с шаблонами=sbl\r\n"
    "[Отчеты]\r\n"
    "month_hw=За отчетный месяц (месяц)<выбран>\r\n"
    "prev_hw=За прошлый месяц\r\n"
    "-old=Снятый отчет<выбран>\r\n"
    "year_hw=<выбран>За текущий год\r\n";

std::string U(std::string_view cp1251) {
    return platform::Cp1251ToUtf8(cp1251);
}

struct PlanCase {
    TemplateChoice choice;
    std::vector<std::string> names;
    std::vector<std::string> captions;  // UTF-8
};

class PlanMonthReportsTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanMonthReportsTest, TakesTheBoxesTheWindowShowsCheckedOrAll) {
    testsupport::ScratchFolder folder;
    std::ofstream(folder.Path() / "calvix.ini", std::ios::binary) << platform::Utf8ToCp1251(kIni);
    Configuration config(folder.Path() / "calvix.ini");
    config.LoadConnectionSettings(WorkState::stHCReports);
    config.LoadTemplateSettings(60);
    DataFileFacts facts;
    facts.takeDateValid = true;
    facts.dataTakeDate = {2006, 3, 5};
    const std::vector<PlannedReport> planned =
        PlanMonthReports(config, MakePeriodLabels(facts), GetParam().choice);
    std::vector<std::string> names;
    std::vector<std::string> captions;
    for (const PlannedReport& report : planned) {
        names.push_back(report.name);
        captions.push_back(U(report.caption));
        EXPECT_EQ(report.run.commandLine, "touch.exe 1 3 sbl\\" + report.name +
                                              ".sbl hc\\dat1hc hc\\txt\\" + report.name + ".txt");
    }
    EXPECT_EQ(names, GetParam().names);
    EXPECT_EQ(captions, GetParam().captions);
}

INSTANTIATE_TEST_SUITE_P(Choices, PlanMonthReportsTest,
                         ::testing::Values(PlanCase{TemplateChoice::kMarked,
                                                    {"month_hw", "year_hw"},
                                                    {"За отчетный месяц (февраль 2006 г)",
                                                     "За 2006 г"}},
                                           PlanCase{TemplateChoice::kAll,
                                                    {"month_hw", "prev_hw", "year_hw"},
                                                    {"За отчетный месяц (февраль 2006 г)",
                                                     "За февраль 2006 г", "За 2006 г"}}));

TEST(ArchiveReportTitleTest, AnUnknownDeviceIsNamedAsTheWindowNamesIt) {
    EXPECT_EQ(U(ArchiveReportTitle("", platform::Utf8ToCp1251("Отчет"))), "Не определен, Отчет");
    EXPECT_EQ(U(ArchiveReportTitle(platform::Utf8ToCp1251("Прибор № 7, А, "),
                                   platform::Utf8ToCp1251("Отчет"))),
              "Прибор № 7, А, Отчет");
}

TEST(SaveReportIntoArchiveTest, MakesTheFolderAndReplacesAnEarlierReportOfTheTitle) {
    testsupport::ScratchFolder folder;
    const std::string title = platform::Utf8ToCp1251("Прибор № 7, А, за 01:02");
    ASSERT_EQ(SaveReportIntoArchive(folder.Path(), title, {"one"}), ArchiveReportPath(title));
    ASSERT_EQ(SaveReportIntoArchive(folder.Path(), title, {"two", "lines"}),
              ArchiveReportPath(title));
    std::vector<std::string> lines;
    ASSERT_TRUE(LoadTextLines(ProgramPath(ArchiveReportPath(title), folder.Path()), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"two", "lines"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path() / "Archive"), {}), 1);
}

TEST(SaveReportIntoArchiveTest, FailsWhenTheArchiveCannotBeAFolder) {
    testsupport::ScratchFolder folder;
    testsupport::WriteBytes(folder.Path() / "Archive", "a file in the folder's place");
    EXPECT_EQ(SaveReportIntoArchive(folder.Path(), "title", {"line"}), std::nullopt);
    EXPECT_EQ(testsupport::ReadBytes(folder.Path() / "Archive"), "a file in the folder's place");
}

TEST(LoadCorrectedReportTest, TellsAMissingReportFromOneWithoutATable) {
    testsupport::ScratchFolder folder;
    std::vector<std::string> lines{"stale"};
    std::string error;
    EXPECT_EQ(LoadCorrectedReport(folder.Path() / "none.txt", {}, lines, error),
              BuiltReport::kMissing);
    EXPECT_TRUE(lines.empty());
    testsupport::WriteBytes(folder.Path() / "plain.txt", "no data\r\n+--+\r\n");
    EXPECT_EQ(LoadCorrectedReport(folder.Path() / "plain.txt", {}, lines, error),
              BuiltReport::kNoTable);
    EXPECT_EQ(lines, (std::vector<std::string>{"no data", "+--+"}));
    fs::create_directory(folder.Path() / "folder.txt");
    EXPECT_EQ(LoadCorrectedReport(folder.Path() / "folder.txt", {}, lines, error),
              BuiltReport::kMissing);
}

}  // namespace
}  // namespace calvix
