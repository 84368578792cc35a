// Totals row of the hourly reports, for two and four pipelines.
#include "gui/rules/hourly_totals.h"

#include <gtest/gtest.h>

#include <array>

#include "gui/rules/report_correction.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

using Lines = std::vector<std::string>;

std::string R(std::string_view text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + std::string(text);
}

const std::string kFrame2 = "+-----+-------+---------+" + std::string(20, '-') + "+" +
                            std::string(17, '-') + "+" + std::string(13, '-') + "+" +
                            std::string(11, '-') + "+";
const std::string kFrame4 = "+-----+-------+------------+" + std::string(40, '-') + "+" +
                            std::string(32, '-') + "+" + std::string(24, '-') + "+" +
                            std::string(20, '-') + "+";
const std::string kTotal(W1251("Итого"));

// flow, heat, temperature and pressure of each pipeline in turn: f1 f2 h1 h2 t1 t2 p1 p2
using Values2 = std::array<std::string_view, 8>;

std::string Row2(int hour, std::string_view time, std::string_view counts, const Values2& v) {
    return "|" + R(std::to_string(hour), 5) + "|" + R(time, 7) + "|" + R(counts, 9) + "|" +
           R(v[0], 10) + R(v[1], 10) + "|" + R(v[2], 8) + " " + R(v[3], 8) + "|" + R(v[4], 6) +
           " " + R(v[5], 6) + "|" + R(v[6], 5) + " " + R(v[7], 5) + "|";
}

// f1..f4 h1..h4 t1..t4 p1..p4
using Values4 = std::array<std::string_view, 16>;

std::string Row4(int hour, std::string_view time, std::string_view counts, const Values4& v) {
    const std::size_t widths[] = {10, 8, 6, 5};
    std::string row = "|" + R(std::to_string(hour), 5) + "|" + R(time, 7) + "|" + R(counts, 12);
    for (std::size_t g = 0; g < 4; ++g) {
        row += "|";
        for (std::size_t i = 0; i < 4; ++i) {
            row += R(v[g * 4 + i], widths[g]);
        }
    }
    return row + "|";
}

Lines Report(const std::string& frame, const std::vector<std::string>& hours) {
    Lines lines{"Hourly report", "", frame, "head", "head", "head", "head", "head", frame};
    lines.insert(lines.end(), hours.begin(), hours.end());
    lines.push_back(frame);
    lines.push_back("signature");
    return lines;
}

const Values2 kNoValues2{"---", "---", "---", "---", "---", "---", "---", "---"};

TEST(HourlyTotalsTest, TwoPipelinesSummedAndAveragedOverTheOperatingTime) {
    std::vector<std::string> hours;
    for (int hour = 0; hour < 24; ++hour) {
        if (hour == 3 || hour == 7) {
            hours.push_back(Row2(hour, "---", "------", kNoValues2));
        } else if (hour == 5) {
            hours.push_back(
                Row2(hour, "30", "30 30",
                     {"1.125", "0.001", "10.25", "0.005", "100.0", "40.0", "0.60", "1.25"}));
        } else {
            hours.push_back(
                Row2(hour, "60", "60 60",
                     {"1.125", "0.001", "10.25", "0.005", "70.0", "40.0", "0.60", "1.25"}));
        }
    }
    Lines lines = Report(kFrame2, hours);
    AddHourlyTotals(lines, 2);
    ASSERT_EQ(lines.size(), 37u);
    EXPECT_EQ(lines[12], Row2(3, "0", "0  0",
                              {"0.000", "0.000", "0.00", "0.00", "0.0", "0.0", "0.00", "0.00"}));
    EXPECT_EQ(lines[16], Row2(7, "0", "0  0",
                              {"0.000", "0.000", "0.00", "0.00", "0.0", "0.0", "0.00", "0.00"}));
    EXPECT_EQ(lines[9], hours[0]);
    EXPECT_EQ(lines[33], kFrame2);
    // 70.69767... is cut to 70.6, not rounded
    EXPECT_EQ(lines[34], "|" + kTotal +
                             "|   1290|         |    24.750     0.022|  225.50     0.11|"
                             "  70.6   40.0| 0.60  1.25|");
    EXPECT_EQ(lines[35], kFrame2);
    EXPECT_EQ(lines[36], "signature");
}

TEST(HourlyTotalsTest, FourPipelinesFollowEachOtherInTheirGroup) {
    const Values4 empty{"---", "---", "---", "---", "---", "---", "---", "---",
                        "---", "---", "---", "---", "---", "---", "---", "---"};
    std::vector<std::string> hours{Row4(0, "---", "------------", empty)};
    for (int hour = 1; hour < 24; ++hour) {
        hours.push_back(Row4(hour, "60", "60 60 60 60",
                             {"1", "2", "3", "4", "0.5", "0.5", "0.5", "0.5", "50.0", "60.0",
                              "70.0", "80.0", "0.25", "0.5", "0.75", "1.0"}));
    }
    Lines lines = Report(kFrame4, hours);
    AddHourlyTotals(lines, 4);
    EXPECT_EQ(lines[9], Row4(0, "0", "0  0  0  0",
                             {"0.000", "0.000", "0.000", "0.000", "0.00", "0.00", "0.00", "0.00",
                              "0.0", "0.0", "0.0", "0.0", "0.00", "0.00", "0.00", "0.00"}));
    EXPECT_EQ(lines[34], "|" + kTotal + "|   1380|            |" +
                             "    23.000    46.000    69.000    92.000|" +
                             "   11.50   11.50   11.50   11.50|  50.0  60.0  70.0  80.0|" +
                             " 0.25 0.50 0.75 1.00|");
    EXPECT_EQ(lines[33], kFrame4);
    EXPECT_EQ(lines[35], kFrame4);
}

TEST(HourlyTotalsTest, NoOperatingTimeAveragesOverOneAndUnreadableCellsCountNothing) {
    Lines lines =
        Report(kFrame2, std::vector<std::string>(24, Row2(1, "---", "------", kNoValues2)));
    lines[20] = Row2(11, "0", "0 0", {"1", "x", "", "", "80", "", "0.5", "?"});
    AddHourlyTotals(lines, 2);
    EXPECT_EQ(lines[34], "|" + kTotal +
                             "|      0|         |     1.000     0.000|    0.00     0.00|"
                             "   0.0    0.0| 0.00  0.00|");
}

TEST(HourlyTotalsTest, AnOperatingTimeBeyondThirtyTwoBitsCountsNothing) {
    const std::string huge = Row2(1, "9223372036854775807", "------", kNoValues2);
    Lines lines = Report(kFrame2, std::vector<std::string>(24, huge));
    lines[20] = Row2(11, "60", "0 0", kNoValues2);
    AddHourlyTotals(lines, 2);
    EXPECT_EQ(lines[34], "|" + kTotal +
                             "|     60|         |     0.000     0.000|    0.00     0.00|"
                             "   0.0    0.0| 0.00  0.00|");
}

TEST(HourlyTotalsTest, ALargeSumWidensItsField) {
    Lines lines =
        Report(kFrame2, std::vector<std::string>(24, Row2(1, "---", "------", kNoValues2)));
    lines[9] = Row2(0, "60", "60 60", {"1234567.5", "1", "1", "1", "1", "1", "1", "1"});
    AddHourlyTotals(lines, 2);
    EXPECT_EQ(lines[34].substr(0, 47), "|" + kTotal + "|     60|         |1234567.500     1.000|");
}

TEST(HourlyTotalsTest, TotalsStandUnderTheColumnsOfAWiderTable) {
    const std::string frame = "  +-------+--------+-----------+" + std::string(22, '-') + "+" +
                              std::string(18, '-') + "+" + std::string(14, '-') + "+" +
                              std::string(12, '-') + "+";
    Lines lines =
        Report(frame, std::vector<std::string>(24, "  | 1 | 60 | x | 1 1 | 1 1 | 1 1 | 1 1 |"));
    AddHourlyTotals(lines, 2);
    const std::string& totals = lines[34];
    EXPECT_EQ(totals.substr(0, 11), "  |" + kTotal + "  |");
    ASSERT_EQ(totals.size(), frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        EXPECT_EQ(totals[i] == '|', frame[i] == '+') << i;
    }
    EXPECT_NE(totals.find("  1440|"), std::string::npos);
}

TEST(HourlyTotalsTest, WithoutAnHourlyTableNothingChanges) {
    Lines shortReport = Report(kFrame2, std::vector<std::string>(23, Row2(1, "1", "", kNoValues2)));
    shortReport.resize(32);
    Lines lines = shortReport;
    AddHourlyTotals(lines, 2);
    EXPECT_EQ(lines, shortReport);

    Lines noFrame(40, "| 1 | 2 |");
    lines = noFrame;
    AddHourlyTotals(lines, 4);
    EXPECT_EQ(lines, noFrame);
}

TEST(HourlyTotalsTest, AReportEndingWithTheLastHourGetsItsFrame) {
    Lines lines =
        Report(kFrame2, std::vector<std::string>(24, Row2(1, "---", "------", kNoValues2)));
    lines.resize(33);
    AddHourlyTotals(lines, 2);
    ASSERT_EQ(lines.size(), 36u);
    EXPECT_EQ(lines[33], kFrame2);
    EXPECT_EQ(lines[34].substr(0, 7), "|" + kTotal + "|");
    EXPECT_EQ(lines[35], kFrame2);
}

TEST(HourlyTotalsTest, TheDeviceVersionChoosesTheGroupSize) {
    std::vector<std::string> hours(
        24, Row2(1, "60", "60 60", {"1", "1", "1", "1", "1", "1", "1", "1"}));
    for (int version : {60, 53}) {
        Lines lines = Report(kFrame2, hours);
        ReportContext context;
        context.workState = version == 60 ? WorkState::stHCHourly : WorkState::stUpdHourly;
        context.deviceVersion = version;
        CorrectReport(lines, context);
        const std::string blanks = version == 60 ? "|         |" : "|            |";
        EXPECT_NE(lines[34].find(blanks), std::string::npos) << version;
    }
    Lines lines = Report(kFrame2, hours);
    ReportContext context;
    context.workState = WorkState::stHCReports;
    CorrectReport(lines, context);
    EXPECT_EQ(lines[34], "signature");
}

}  // namespace
}  // namespace calvix
