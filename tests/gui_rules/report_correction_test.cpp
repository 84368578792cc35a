// Correction of the builder's report text: code page, decade and several-day tables, heading.
#include "gui/rules/report_correction.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

using Lines = std::vector<std::string>;

std::string Oem(std::string_view text1251) {
    return platform::Cp1251ToCp866(text1251);
}

TEST(ReportCodePageTest, MovesTheLettersAndLeavesTheBoxDrawing) {
    const std::uint8_t cases[][2] = {
        {0x80, 0xC0}, {0x9F, 0xDF}, {0xA0, 0xE0}, {0xAF, 0xEF}, {0xE0, 0xF0}, {0xEF, 0xFF},
        {0xF0, 0xA8}, {0xF1, 0xB8}, {0xFC, 0xB9}, {0xFF, 0x20}, {0xB0, 0xB0}, {0xB3, 0xB3},
        {0xC4, 0xC4}, {0xDF, 0xDF}, {0xF2, 0xF2}, {0xFB, 0xFB}, {0xFD, 0xFD}, {0xFE, 0xFE},
        {0x41, 0x41}, {0x00, 0x00}, {0x7F, 0x7F},
    };
    for (const auto& c : cases) {
        const std::string in(1, static_cast<char>(c[0]));
        EXPECT_EQ(ConvertReportLine(in), std::string(1, static_cast<char>(c[1])))
            << std::hex << int{c[0]};
    }
    const std::string_view russian = W1251("Ведомость учета тепла, Ёё № 5, объём");
    EXPECT_EQ(ConvertReportLine(Oem(russian)), russian);
}

TEST(ReportCodePageTest, EmptyValuesBecomeAQuestionMark) {
    const std::string_view cases[][2] = {
        {"a?0.00?b", "a?b"},    {"?0.00?0.00?", "?"},   {"??0.00??", "???"},
        {"?0.00 ?", "?0.00 ?"}, {"?0.000?", "?0.000?"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertReportLine(c[0]), c[1]) << c[0];
    }
}

Lines DecadeReport(std::string head) {
    Lines lines{std::move(head), "+----+------+", "|Day |  Q   |", "+----+------+"};
    for (int day = 21; day <= 31; ++day) {
        lines.push_back("| " + std::to_string(day) + " | 1.00 |");
    }
    lines.push_back("+----+------+");
    lines.push_back("footer");
    return lines;
}

TEST(DecadeTableTest, EndsWithTheLastDayOfTheMonth) {
    struct Case {
        std::string_view head;
        CalendarDate take;
        int lastDay;
    };
    const Case cases[] = {
        {"Report ***CORRECT_BD3", {2008, 3, 15}, 29},  // February of a leap year
        {"Report ***CORRECT_BD3", {2007, 3, 1}, 28},
        {"Report ***CORRECT_BD3", {2007, 1, 10}, 31},  // December of the year before
        {"Report ***CORRECT_BD3", {2006, 5, 31}, 30},
        {"Report ***CORRECT_ND3", {2008, 2, 10}, 29},
        {"Report ***CORRECT_ND3", {2007, 2, 10}, 28},
        {"Report ***CORRECT_ND3", {2006, 4, 5}, 30},
        {"Report ***CORRECT_ND3 ***CORRECT_BD3", {2006, 4, 5}, 31},  // the month before: March
    };
    for (const auto& c : cases) {
        Lines lines = DecadeReport(std::string(c.head));
        TrimDecadeTable(lines, c.take);
        const std::size_t rows = static_cast<std::size_t>(c.lastDay - 20);
        ASSERT_EQ(lines.size(), 4 + rows + 2) << c.head << " " << c.take.month;
        EXPECT_EQ(lines[3 + rows], "| " + std::to_string(c.lastDay) + " | 1.00 |");
        EXPECT_EQ(lines[4 + rows], "+----+------+");
        EXPECT_EQ(lines.back(), "footer");
        EXPECT_EQ(lines[0].find("***CORRECT_BD3"), std::string::npos);
        EXPECT_EQ(lines[0].substr(0, 7), "Report ");
    }
}

TEST(DecadeTableTest, NeedsTheMarkerInTheFirstLineAndAWholeTable) {
    Lines lines = DecadeReport("Report");
    lines[1] += " ***CORRECT_BD3";
    const Lines unmarked = lines;
    TrimDecadeTable(lines, {2007, 3, 1});
    EXPECT_EQ(lines, unmarked);

    lines = DecadeReport("***CORRECT_ND3");
    lines.erase(lines.end() - 2);  // no bottom frame
    TrimDecadeTable(lines, {2007, 2, 1});
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines.size(), 4u + 11u + 1u);
}

std::string DayRow(int slot, std::string_view a, std::string_view b) {
    std::string row = "| " + std::to_string(slot) + " | 1 |";
    row += std::string(a.size() < 8 ? 8 - a.size() : 0, ' ') + std::string(a) + "|";
    row += std::string(b.size() < 8 ? 8 - b.size() : 0, ' ') + std::string(b) + "|";
    return row;
}

struct Day {
    int slot;
    std::string_view a, b;
};

Lines SeveralDayReport(const std::vector<Day>& days) {
    const std::string frame = "+----+---+--------+--------+";
    Lines lines{"   Report  by days ", frame, "|Day | h |   A    |   B    |", frame};
    for (const Day& d : days) {
        lines.push_back(DayRow(d.slot, d.a, d.b));
    }
    lines.push_back(frame);
    lines.push_back(std::string(W1251("|Итого|   |")) + "   0.000|   0.000|");
    lines.push_back(frame);
    return lines;
}

TEST(SeveralDayTableTest, PeriodAcrossAShortMonth) {
    Lines lines = SeveralDayReport({{28, "1.500", "10.000"},
                                    {29, "---", "---"},
                                    {30, "---", "---"},
                                    {31, "---", "---"},
                                    {32, "2.250", "20.000"},
                                    {33, "3.000", "30.500"}});
    CorrectSeveralDayTable(lines, {2007, 2, 28}, {2007, 3, 2});
    const Lines expected{
        "   Report  by days " + std::string(W1251("С 28.02.2007 ПО 02.03.2007")),
        "+----+---+--------+--------+",
        "|Day | h |   A    |   B    |",
        "+----+---+--------+--------+",
        "| 28 | 1 |   1.500|  10.000|",
        "| 1  | 1 |   2.250|  20.000|",
        "| 2  | 1 |   3.000|  30.500|",
        "+----+---+--------+--------+",
        std::string(W1251("|Итого|   |")) + "    6.75|    60.5|",
        "+----+---+--------+--------+",
    };
    EXPECT_EQ(lines, expected);
}

// The days written over the rows, and the totals of column A.
struct PeriodCase {
    CalendarDate begin, end;
    std::vector<int> slots;
    std::vector<int> days;
    std::string_view totalA;
};

TEST(SeveralDayTableTest, DaysAndTotalsForEveryKindOfPeriod) {
    const PeriodCase cases[] = {
        {{2008, 2, 28}, {2008, 3, 2}, {28, 29, 30, 31, 32, 33}, {28, 29, 1, 2}, "       4"},
        {{2007, 1, 30}, {2007, 2, 1}, {30, 31, 32}, {30, 31, 1}, "       1"},
        {{2006, 12, 30}, {2007, 1, 2}, {30, 31, 32, 33}, {30, 31, 1, 2}, "       2"},
        {{2007, 4, 29}, {2007, 5, 1}, {29, 30, 31, 32}, {29, 30, 1}, "       2"},
        {{2007, 3, 10}, {2007, 3, 12}, {41, 42, 43}, {10, 11, 12}, "       3"},
        // more rows than days in the period: the rest keep their numbers and are not summed
        {{2007, 3, 10}, {2007, 3, 11}, {41, 42, 43}, {10, 11, 43}, "       2"},
    };
    for (const auto& c : cases) {
        std::vector<Day> rows;
        for (int slot : c.slots) {
            rows.push_back({slot, slot == 30 || slot == 31 ? "---" : "1", "0"});
        }
        Lines lines = SeveralDayReport(rows);
        CorrectSeveralDayTable(lines, c.begin, c.end);
        const std::string label =
            ShortDate(c.begin) + "-" + ShortDate(c.end) + " " + std::to_string(c.slots.size());
        ASSERT_EQ(lines.size(), 4 + c.days.size() + 3) << label;
        for (std::size_t i = 0; i < c.days.size(); ++i) {
            const std::string day = std::to_string(c.days[i]);
            EXPECT_EQ(lines[4 + i].substr(0, 5), "| " + day + std::string(3 - day.size(), ' '))
                << label << " row " << i;
        }
        const std::string& totals = lines[4 + c.days.size() + 1];
        EXPECT_EQ(totals.substr(totals.size() - 18, 8), c.totalA) << label;
        EXPECT_EQ(totals.substr(totals.size() - 9), "   0.000|") << label;
    }
}

TEST(SeveralDayTableTest, TotalsFieldGrowsToTheLeftWhenTheSumIsLonger) {
    Lines lines = SeveralDayReport({{41, "123456.125", "1"}, {42, "0.5", "-1"}});
    lines[7] = std::string(W1251("|Итого|   |")) + "     0.0|  0.0   |";
    CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 11});
    EXPECT_EQ(lines[7], std::string(W1251("|Итого|   |")) + "123456.625|0.000   |");
}

TEST(SeveralDayTableTest, SecondTotalFoundAfterTheFirstGrewTheLine) {
    Lines lines = SeveralDayReport({{41, "123456.125", "1"}, {42, "0.5", "-1"}});
    lines[7] = std::string(W1251("|Итого|   |")) + "0|0|";
    CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 11});
    EXPECT_EQ(lines[7], std::string(W1251("|Итого|   |")) + "123456.625|0.000|");
}

TEST(SeveralDayTableTest, AnUnreadableCellIsAnError) {
    for (std::string_view cell : {"1.5x", "1,5", "-", "abc", "nan", "inf"}) {
        Lines lines = SeveralDayReport({{41, "1.0", "1.0"}, {42, cell, "1.0"}});
        EXPECT_THROW(CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 11}),
                     ReportCorrectionError)
            << cell;
    }
    Lines lines = SeveralDayReport({{41, "1.0", "1.0"}});
    lines[4] = "| 41 | 1 |";  // no value cells
    EXPECT_THROW(CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 10}),
                 ReportCorrectionError);
    lines = SeveralDayReport({{41, "1.0", "1.0"}, {42, "1.0", "1.0"}});
    lines[4] = "|";  // ends before the day column: the day still has room
    EXPECT_THROW(CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 11}),
                 ReportCorrectionError);
    EXPECT_EQ(lines[4], "| 10");
}

TEST(SeveralDayTableTest, NumbersInTheirOwnWritings) {
    Lines lines = SeveralDayReport({{41, "+1.5", "1e2"}, {42, ".5", "-2.5E-1"}});
    CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 11});
    EXPECT_EQ(lines[7], std::string(W1251("|Итого|   |")) + "       2|   99.75|");
}

TEST(SeveralDayTableTest, WithoutAWholeTableOnlyTheHeadingChanges) {
    Lines lines{"", "  title", "+----+", "| 1 |", "+----+"};
    CorrectSeveralDayTable(lines, {2007, 3, 10}, {2007, 3, 11});
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "  title" + std::string(W1251("С 10.03.2007 ПО 11.03.2007")));
    EXPECT_EQ(lines[3], "| 1 |");
}

TEST(HeadingTest, CentredOverTheTableWithTheFramesMargin) {
    const std::string frame = "    +" + std::string(39, '-') + "+";
    Lines lines{std::string(W1251("  Ведомость   учета  ")), "", frame, "  below   "};
    CenterHeading(lines);
    EXPECT_EQ(lines[0], "    " + std::string(12, ' ') + std::string(W1251("Ведомость учета")));
    EXPECT_EQ(lines[1], std::string(4 + 20, ' '));
    EXPECT_EQ(lines[2], frame);
    EXPECT_EQ(lines[3], "  below   ");
}

TEST(HeadingTest, WidthLimitsAndMissingFrames) {
    Lines wide{"ab", "+" + std::string(150, '-') + "+"};
    CenterHeading(wide);
    EXPECT_EQ(wide[0], std::string(49, ' ') + "ab");

    Lines narrow{"\t a  longer  text \r", "x+--+"};
    CenterHeading(narrow);
    EXPECT_EQ(narrow[0], "xa longer text");

    const Lines noFrame{"  a  ", "+-+-+", "| 1 |"};
    Lines lines = noFrame;
    CenterHeading(lines);
    EXPECT_EQ(lines, noFrame);

    const Lines onePlus{"  a  ", "  +-----", "| 1 |"};
    lines = onePlus;
    CenterHeading(lines);
    EXPECT_EQ(lines, onePlus);
}

TEST(CorrectReportTest, WithoutATableOnlyCodePageEmptyValuesAndPlaceholdersChange) {
    const Lines report{Oem(W1251("  Отчет   за ***CORRECT_MONTH_YEAR03.06  ")),
                       Oem(W1251("Тепло ?0.00? Гкал")), "+-+-+ --+"};
    Lines lines = report;
    ReportContext context;
    context.workState = WorkState::stHCReports;
    CorrectReport(lines, context);
    EXPECT_EQ(lines, (Lines{std::string(W1251("  Отчет   за МАРТ 2006  ")),
                            std::string(W1251("Тепло ? Гкал")), "+-+-+ --+"}));
}

TEST(CorrectReportTest, MonthlyReportWithDecadesAndPeriod) {
    Lines lines{Oem(W1251("ВЕДОМОСТЬ  ***CORRECT_BD3")),
                Oem(W1251(" за ***CORRECT_O_MONTH_YEAR02.08")), "  +----+------+",
                "  |Day |  Q   |", "  +----+------+"};
    for (int day = 21; day <= 31; ++day) {
        lines.push_back("  | " + std::to_string(day) + " | ?0.00? |");
    }
    lines.push_back("  +----+------+");
    ReportContext context;
    context.workState = WorkState::stUpdReports;
    context.dataTakeDate = {2008, 3, 5};
    context.reportDay = 1;
    CorrectReport(lines, context);
    ASSERT_EQ(lines.size(), 5u + 9u + 1u);
    EXPECT_EQ(lines[0], "   " + std::string(W1251("ВЕДОМОСТЬ")));
    EXPECT_EQ(lines[1], "  " + std::string(W1251("за С 1 ФЕВРАЛЯ ПО 29 ФЕВРАЛЯ 2008 Г.")));
    EXPECT_EQ(lines[13], "  | 29 | ? |");
    EXPECT_EQ(lines[14], "  +----+------+");
}

TEST(CorrectReportTest, SeveralDayStepOnlyForCycleReports) {
    const Lines report = SeveralDayReport({{41, "1", "2"}});
    struct Case {
        WorkState state;
        bool deep;
        bool corrected;
    };
    const Case cases[] = {
        {WorkState::stHCSeveralDays, false, true}, {WorkState::stUpdSeveralDays, false, true},
        {WorkState::stHCSeveralDays, true, false}, {WorkState::stHCReports, false, false},
        {WorkState::stUpdHourly, false, false},
    };
    for (const auto& c : cases) {
        Lines lines = report;
        ReportContext context;
        context.workState = c.state;
        context.deepArchiveMode = c.deep;
        context.beginDate = context.endDate = {2007, 3, 10};
        CorrectReport(lines, context);
        EXPECT_EQ(lines[4].substr(0, 5), c.corrected ? "| 10 " : "| 41 ")
            << static_cast<int>(c.state) << c.deep;
        EXPECT_EQ(lines[0].find(W1251("С 10.03.2007 ПО 10.03.2007")) != std::string::npos,
                  c.corrected);
    }
}

TEST(CorrectReportTest, AnErrorLeavesTheLinesAsTheyWere) {
    const Lines report = SeveralDayReport({{41, "1", "2"}, {42, "x", "2"}});
    Lines lines = report;
    ReportContext context;
    context.workState = WorkState::stHCSeveralDays;
    context.beginDate = {2007, 3, 10};
    context.endDate = {2007, 3, 11};
    EXPECT_THROW(CorrectReport(lines, context), ReportCorrectionError);
    EXPECT_EQ(lines, report);
}

}  // namespace
}  // namespace calvix
