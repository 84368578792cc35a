// The text side of printing: margins, tabs, border lines, the split into sheets.
#include "gui/rules/print_layout.h"

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

using Lines = std::vector<std::string>;

const std::string kBorder = "+-----+---------+";

// A report: title, a blank line, a two-line head between borders, `rows` data rows, the
// closing border and a signature line.
Lines Report(int rows, const std::string& indent = "") {
    Lines lines = {indent + std::string(W1251("Ведомость")), "", indent + kBorder,
                   indent + "| day |  value  |", indent + kBorder};
    for (int r = 1; r <= rows; ++r) {
        const std::string day = std::to_string(r);
        lines.push_back(indent + "|" + std::string(5 - day.size(), ' ') + day + "|    1.5  |");
    }
    lines.push_back(indent + kBorder);
    lines.push_back(indent + "Signed");
    return lines;
}

PrinterSettings Settings(int leftMargin, int topMargin, int maxRows) {
    PrinterSettings s;
    s.leftMargin = leftMargin;
    s.topMargin = topMargin;
    s.maxTableRows = maxRows;
    return s;
}

std::string Trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(' ');
    return first == std::string::npos ? "" : line.substr(first);
}

int DataRows(const PrintSheet& sheet) {
    int rows = 0;
    for (const std::string& line : sheet.lines) {
        rows += Trimmed(line).starts_with("| ") && line.find("1.5") != std::string::npos;
    }
    return rows;
}

TEST(PrintLayout, LongTableSplitsIntoSheetsWithTitleNumberHeadAndClosingBorder) {
    const struct {
        int rows, maxRows;
        std::vector<int> perSheet;
    } cases[] = {
        {130, 62, {62, 62, 6}}, {124, 62, {62, 62}}, {62, 62, {62}},
        {25, 10, {10, 10, 5}},  {0, 62, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        const PrintJob job = LayoutPrintJob(Report(c.rows), Settings(4, 2, c.maxRows));
        ASSERT_EQ(job.sheets.size(), c.perSheet.size());
        const bool several = c.perSheet.size() > 1;
        for (std::size_t k = 0; k < job.sheets.size(); ++k) {
            const PrintSheet& sheet = job.sheets[k];
            EXPECT_EQ(DataRows(sheet), c.perSheet[k]);
            EXPECT_EQ(sheet.lines[0], " ");
            EXPECT_EQ(sheet.lines[1], " ");
            const std::string title = "    " + std::string(W1251("Ведомость"));
            EXPECT_EQ(
                sheet.lines[2],
                several ? title + std::string(W1251(" , Лист ")) + std::to_string(k + 1) : title);
            EXPECT_EQ(sheet.lines[3], " ");
            EXPECT_EQ(sheet.lines[4], "    " + kBorder);
            EXPECT_EQ(sheet.lines[5], "    | day |  value  |");
            EXPECT_EQ(sheet.lines[6], "    " + kBorder);
            const bool last = k + 1 == job.sheets.size();
            EXPECT_EQ(sheet.lines.back(), last ? "    Signed" : "    " + kBorder);
            EXPECT_EQ(sheet.lines.size(), 7u + c.perSheet[k] + (last ? 2u : 1u));
        }
    }
}

TEST(PrintLayout, LeftMarginShiftsRightOnlyUpToTheMargin) {
    const struct {
        std::string indent;
        int leftMargin;
        std::string expectedTitleIndent;
    } cases[] = {
        {"      ", 4, "      "},  // already beyond the margin: no shift
        {" ", 4, "    "},         // 3 more blanks
        {"", 0, ""},              //
        {"", 20, std::string(20, ' ')},
        {"\t", 4, "        "},       // a tab counts as eight blanks
        {"  \t", 10, "          "},  // 2 + 8 = 10
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.leftMargin);
        const Lines shifted = ApplyLeftMargin(Report(1, c.indent), c.leftMargin);
        EXPECT_EQ(shifted[0], c.expectedTitleIndent + std::string(W1251("Ведомость")));
        EXPECT_EQ(shifted[2], c.expectedTitleIndent + kBorder);
    }
}

TEST(PrintLayout, LeastIndentedLineDecidesTheShift) {
    const Lines shifted = ApplyLeftMargin({"      deep", " shallow", "\tx\ty"}, 4);
    EXPECT_EQ(shifted, (Lines{"         deep", "    shallow", "           x        y"}));
}

TEST(PrintLayout, ColumnsComeFromTheFirstBorderLine) {
    Lines lines = Report(3);
    lines[4] = "+--+--+--+--+";  // a later border line with other columns is not used
    const PrintJob job = LayoutPrintJob(lines, Settings(2, 0, 62));
    EXPECT_EQ(job.columns, (std::vector<std::size_t>{3, 9, 19}));
}

TEST(PrintLayout, ManyColumnsAreAllKept) {
    std::string border = "+";
    for (int i = 0; i < 70; ++i) {
        border += "--+";
    }
    const PrintJob job = LayoutPrintJob({border, "|x|", border}, Settings(0, 0, 62));
    EXPECT_EQ(job.columns.size(), 71u);
    EXPECT_EQ(job.columns.back(), 211u);
}

TEST(PrintLayout, DrawnLinesLoseTheFrameBetweenTheFirstAndLastBorder) {
    const PrintJob job =
        LayoutPrintJob({"A|title|", "+--+--+", "|ab|c |   ", "+--+--+", "x|y", "\t "}, {0, 1, 62});
    ASSERT_EQ(job.sheets.size(), 1u);
    const PrintSheet& s = job.sheets[0];
    EXPECT_EQ(s.drawn, (Lines{" ", "A|title|", " ", " ab c", " ", "x|y", " "}));
    EXPECT_EQ(s.border, (std::vector<bool>{false, false, true, false, true, false, false}));
    EXPECT_EQ(s.lines[2], "+--+--+");  // the laid-out line keeps its text for measuring
}

}  // namespace
}  // namespace calvix
