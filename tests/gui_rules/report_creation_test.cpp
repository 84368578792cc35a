// Report creation without widgets: command lines, output names, captions, the two-month day
// scale and the "@cycle" rewrite of several-day templates.
#include "gui/rules/report_creation.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "platform/file_io.h"
#include "tests/support/scratch_folder.h"

namespace calvix {
namespace {

namespace fs = std::filesystem;
using S = WorkState;

std::string W(const char* utf8) {
    return platform::Utf8ToCp1251(utf8);
}

TEST(ReportCreationRules, MonthRunPerState) {
    const struct {
        WorkState state;
        const char* command;  // empty: no run in this state
    } cases[] = {
        {S::stUpdReports, "touch.exe 1 3 F\\N.sbl dat txt\\N.txt"},
        {S::stHCReports, "touch.exe 1 3 F\\N.sbl hc\\dat1hc hc\\txt\\N.txt"},
        {S::stArchive, ""},
        {S::stUpdHourly, ""},
        {S::stHCSeveralDays, ""},
    };
    for (const auto& c : cases) {
        const auto run = MonthRun(c.state, "F", "N");
        ASSERT_EQ(run.has_value(), *c.command != '\0') << static_cast<int>(c.state);
        if (run) {
            EXPECT_EQ(run->commandLine, c.command);
            EXPECT_EQ(run->templatePath, "F\\N.sbl");
        }
    }
    EXPECT_EQ(MonthRun(S::stHCReports, "F", "N")->output, "hc\\txt\\N.txt");
}

TEST(ReportCreationRules, HourlyEntriesAreTheFirstThreeDigitRuns) {
    const struct {
        const char* entry;
        bool valid;
        int day, month, year;
        const char* output;
    } cases[] = {
        {"05.03.2006", true, 5, 3, 6, "050306.txt"},
        {"12.11.2006", true, 12, 11, 6, "121106.txt"},
        {"x1/2/2010y 7", true, 1, 2, 10, "010210.txt"},
        {"1.2.3.4", true, 1, 2, 3, "010203.txt"},
        {"31.12.1999", true, 31, 12, 99, "311299.txt"},
        {"05.03", false, 0, 0, 0, ""},
        {"", false, 0, 0, 0, ""},
        {"1.2.99999999999999999999", false, 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const auto entry = ParseHourlyEntry(c.entry);
        ASSERT_EQ(entry.has_value(), c.valid) << c.entry;
        if (entry) {
            EXPECT_EQ(entry->day, c.day) << c.entry;
            EXPECT_EQ(entry->month, c.month) << c.entry;
            EXPECT_EQ(entry->year, c.year) << c.entry;
            EXPECT_EQ(HourlyOutputName(*entry), c.output) << c.entry;
        }
    }
}

TEST(ReportCreationRules, HourlyRunAppendsYearMonthDayWithoutLeadingZeros) {
    const struct {
        WorkState state;
        const char* entry;
        const char* command;
    } cases[] = {
        {S::stHCHourly, "05.03.2006",
         "touch.exe 1 3 F\\hour_hw.sbl hc\\dat1hc hc\\txt\\050306.txt 6 3 5"},
        {S::stHCHourly, "12.11.2006",
         "touch.exe 1 3 F\\hour_hw.sbl hc\\dat1hc hc\\txt\\121106.txt 6 11 12"},
        {S::stUpdHourly, "07.12.2024", "touch.exe 1 3 F\\hour_hw.sbl dat txt\\071224.txt 24 12 7"},
        {S::stHCReports, "05.03.2006", ""},
        {S::stUpdSeveralDays, "05.03.2006", ""},
    };
    for (const auto& c : cases) {
        const auto run = HourlyRun(c.state, "F", *ParseHourlyEntry(c.entry));
        ASSERT_EQ(run.has_value(), *c.command != '\0') << c.entry;
        if (run) {
            EXPECT_EQ(run->commandLine, c.command);
            EXPECT_EQ(run->templatePath, "F\\hour_hw.sbl");
        }
    }
}

TEST(ReportCreationRules, HourlyCaptions) {
    EXPECT_EQ(HourlyCaption({5, 3, 6}), W1251("5 марта 2006 г"));
    EXPECT_EQ(HourlyCaption({12, 11, 6}), W1251("12 ноября 2006 г"));
    EXPECT_EQ(HourlyCaption({1, 1, 0}), W1251("1 января 2000 г"));
    EXPECT_EQ(HourlyCaption({5, 13, 6}), "");
    EXPECT_EQ(HourlyCaption({5, 0, 6}), "");
}

TEST(ReportCreationRules, SeveralDayRunPerStateAndMode) {
    const std::string range = DateRangeText({2006, 2, 1}, {2006, 3, 15});
    EXPECT_EQ(range, "01.02.2006 15.03.2006");
    const struct {
        WorkState state;
        bool deep;
        const char* command;
    } cases[] = {
        {S::stHCSeveralDays, true,
         "hc\\touch180.exe s hc\\dat2hc F\\N.sbl hc\\txt\\N.txt 01.02.2006 15.03.2006"},
        {S::stUpdSeveralDays, true,
         "hc\\touch180.exe s dat F\\N.sbl txt\\N.txt 01.02.2006 15.03.2006"},
        {S::stHCSeveralDays, false, "touch.exe 1 3 F\\N.sbl hc\\dat1hc hc\\txt\\N.txt"},
        {S::stUpdSeveralDays, false, "touch.exe 1 3 F\\N.sbl dat txt\\N.txt"},
        {S::stHCReports, false, ""},
        {S::stHCHourly, true, ""},
    };
    for (const auto& c : cases) {
        const auto run = SeveralDayRun(c.state, "F", "N", c.deep, range);
        ASSERT_EQ(run.has_value(), *c.command != '\0') << static_cast<int>(c.state);
        if (run) {
            EXPECT_EQ(run->commandLine, c.command);
        }
    }
}

TEST(ReportCreationRules, SeveralDayCaptionNamesThePeriod) {
    EXPECT_EQ(SeveralDayCaption({2006, 2, 1}, {2006, 3, 15}, W1251("Ведомость")),
              W1251("1 февраля 2006 г - 15 марта 2006 г, Ведомость"));
}

TEST(ReportCreationRules, CycleSlotsOnTheTwoMonthScale) {
    const struct {
        CalendarDate firstMonth, begin, end;
        int count, skip;
    } cases[] = {
        {{2006, 1, 1}, {2006, 1, 30}, {2006, 2, 1}, 3, 29},   // slots 30, 31 and 32
        {{2006, 1, 1}, {2006, 2, 10}, {2006, 2, 12}, 3, 40},  // inside the second month
        {{2006, 1, 1}, {2006, 1, 25}, {2006, 2, 3}, 10, 24},
        {{2006, 12, 1}, {2006, 12, 31}, {2007, 1, 1}, 2, 30},  // across the year's end
        {{2006, 2, 1}, {2006, 2, 1}, {2006, 2, 1}, 1, 0},
    };
    for (const auto& c : cases) {
        const CycleArguments arguments = CycleSlots(c.firstMonth, c.begin, c.end);
        EXPECT_EQ(arguments.count, c.count) << c.begin.day << "." << c.begin.month;
        EXPECT_EQ(arguments.skip, c.skip) << c.begin.day << "." << c.begin.month;
    }
}

TEST(ReportCreationRules, CycleLineRewrite) {
    const struct {
        const char* line;
        bool found;
        const char* rewritten;
    } cases[] = {
        {"@cycle 1,0 (comment here)", true, "@cycle 10,24 (comment here)"},
        {"@cycle 31,62 x", true, "@cycle 10,24 x"},
        // No blank after the numbers: they go up to the line's end, not glued to the new ones.
        {"@cycle 1,0", true, "@cycle 10,24"},
        // Text before the mark: its blanks do not decide what is removed.
        {"rem a @cycle 1,0 rest", true, "rem a @cycle 10,24 rest"},
        {"x@cycle 5,5", true, "x@cycle 10,24"},
        {"@cycle", true, "@cycle 10,24"},
        {"@cycle 1,0 a @cycle 2,2 b", true, "@cycle 10,24 a @cycle 2,2 b"},
        {"@CYCLE 1,0", false, "@CYCLE 1,0"},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        EXPECT_EQ(RewriteCycleLine(line, {10, 24}), c.found) << c.line;
        EXPECT_EQ(line, c.rewritten) << c.line;
    }
}

TEST(ReportCreationRules, CycleTextRewritesOnlyTheFirstMarkedLine) {
    std::string text = "title\r\n@cycle 1,0 one\r\n@cycle 1,0 two\r\nend";
    ASSERT_TRUE(RewriteCycleText(text, {3, 29}));
    EXPECT_EQ(text, "title\r\n@cycle 3,29 one\r\n@cycle 1,0 two\r\nend");
    std::string last = "a\n@cycle 1,0";
    ASSERT_TRUE(RewriteCycleText(last, {3, 40}));
    EXPECT_EQ(last, "a\n@cycle 3,40");
    std::string none = "a\r\nb\r\n";
    EXPECT_FALSE(RewriteCycleText(none, {3, 40}));
    EXPECT_EQ(none, "a\r\nb\r\n");
}

class CycleTemplateFile : public ::testing::Test {
  protected:
    fs::path Write(const std::string& bytes) {
        const fs::path file = folder_.Path() / "days.sbl";
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    testsupport::ScratchFolder folder_;
};

TEST_F(CycleTemplateFile, RewrittenInPlaceKeepingItsBytes) {
    const std::string body = W("Ведомость по суткам") + "\r\n+--+\r\n";
    const fs::path file = Write("@cycle 1,0 " + W("(сама)") + "\r\n" + body);
    ASSERT_EQ(RewriteCycleTemplate(file, {10, 24}), CycleRewrite::Rewritten);
    EXPECT_EQ(Read(file), "@cycle 10,24 " + W("(сама)") + "\r\n" + body);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Path()), fs::directory_iterator()), 1);
}

TEST_F(CycleTemplateFile, WithoutACycleLineItStaysAsItWas) {
    const fs::path file = Write("plain\r\n");
    EXPECT_EQ(RewriteCycleTemplate(file, {10, 24}), CycleRewrite::NoCycleLine);
    EXPECT_EQ(Read(file), "plain\r\n");
}

TEST_F(CycleTemplateFile, AMissingTemplateIsReported) {
    EXPECT_EQ(RewriteCycleTemplate(folder_.Path() / "none.sbl", {1, 0}), CycleRewrite::Missing);
    fs::create_directory(folder_.Path() / "dir.sbl");
    EXPECT_EQ(RewriteCycleTemplate(folder_.Path() / "dir.sbl", {1, 0}), CycleRewrite::Missing);
}

TEST_F(CycleTemplateFile, AFailedWriteLeavesTheOldTemplate) {
    const fs::path file = Write("@cycle 1,0 x\r\n");
    // The temporary name is taken by a folder with something in it: nothing can be written.
    const fs::path blocker = platform::ReplacementPath(file);
    fs::create_directories(blocker / "inside");
    EXPECT_EQ(RewriteCycleTemplate(file, {10, 24}), CycleRewrite::Failed);
    EXPECT_EQ(Read(file), "@cycle 1,0 x\r\n");
}

}  // namespace
}  // namespace calvix
