// Date placeholders of report lines and the reporting-period text.
#include "gui/rules/report_placeholders.h"

#include <gtest/gtest.h>

#include "gui/rules/month_tables.h"
#include "platform/calendar.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

struct PlaceholderCase {
    std::string_view line;
    int reportDay;
    std::string_view expected;
};

TEST(PlaceholderTest, FillsEachPlaceholderAsTheExamplesShow) {
    const PlaceholderCase cases[] = {
        {W1251("за ***-1YEAR2006 год"), 0, W1251("за 2005 год")},
        {"***-1YEAR 06", 0, " 2005"},
        {"***CORRECT_MONTH_YEAR12.06", 0, W1251("ДЕКАБРЬ 2006")},
        {"***CORRECT_O_MONTH_YEAR03.06", 25, W1251("С 25 МАРТА ПО 24 АПРЕЛЯ 2006 Г.")},
        {"***CORRECT_DAY_MONTH_YEAR05.03.06", 0, W1251("5 МАРТА 2006")},
        {"***CORRECT_O_MONTH_YEAR12.06", 20, W1251("С 20 ДЕКАБРЯ 2006 Г.  ПО 19 ЯНВАРЯ 2007 Г.")},
        {"***CORRECT_O_MONTH_YEAR01.08", 31, W1251("С 31 ЯНВАРЯ ПО 29 ФЕВРАЛЯ 2008 Г.")},
        {W1251("Отчет за ***CORRECT_O_MONTH_YEAR02.08 ."), 1,
         W1251("Отчет за С 1 ФЕВРАЛЯ ПО 29 ФЕВРАЛЯ 2008 Г. .")},
        {"***CORRECT_O_MONTH_YEAR02.2007", 1, W1251("С 1 ФЕВРАЛЯ ПО 28 ФЕВРАЛЯ 2007 Г.")},
        {"***CORRECT_MONTH_YEAR1.2007", 0, W1251("ЯНВАРЬ 2007")},
        {"***CORRECT_DAY_MONTH_YEAR31.12.2006", 0, W1251("31 ДЕКАБРЯ 2006")},
    };
    for (const auto& c : cases) {
        std::string line(c.line);
        FillPlaceholders(line, c.reportDay);
        EXPECT_EQ(line, c.expected) << c.line;
    }
}

TEST(PlaceholderTest, NumbersOutOfRangeStayAsTheyAre) {
    const PlaceholderCase cases[] = {
        {"***CORRECT_O_MONTH_YEAR04.06", 31, "04.06"},  // April has no 31st
        {"***CORRECT_O_MONTH_YEAR04.06", 0, "04.06"},   // no reporting day
        {"***CORRECT_O_MONTH_YEAR13.06", 5, "13.06"},
        {"***CORRECT_O_MONTH_YEAR04", 5, "04"},  // no year
        {"***CORRECT_MONTH_YEAR13.06", 0, "13.2006"},
        {"***CORRECT_MONTH_YEAR00.06", 0, "00.2006"},
        {"***CORRECT_DAY_MONTH_YEAR05.13.06", 0, "05.13.2006"},
        {"***CORRECT_DAY_MONTH_YEAR5.13.06", 0, "05.13.2006"},
        {"***CORRECT_DAY_MONTH_YEAR5", 0, "5"},
        {"***CORRECT_DAY_MONTH_YEAR007 x", 0, "7 x"},
        {"***CORRECT_DAY_MONTH_YEAR015.03.06", 0, W1251("015 МАРТА 2006")},
        {"***-1YEAR99999999999", 0, "99999999999"},  // too long to read
        {"***CORRECT_MONTH_YEAR99999999999.06", 0, "99999999999.2006"},
    };
    for (const auto& c : cases) {
        std::string line(c.line);
        FillPlaceholders(line, c.reportDay);
        EXPECT_EQ(line, c.expected) << c.line;
    }
}

TEST(PlaceholderTest, AMarkerWithoutDigitsIsOnlyDeleted) {
    for (std::string_view mark :
         {kPreviousYearMark, kMonthYearMark, kPeriodMark, kDayMonthYearMark}) {
        std::string line = "<" + std::string(mark) + "> .";
        FillPlaceholders(line, 25);
        EXPECT_EQ(line, "<> .") << mark;
    }
}

TEST(PlaceholderTest, OnlyTheFirstOccurrenceOfEachAndCaseMatters) {
    std::string line = "***-1YEAR2006 ***-1YEAR2006 ***correct_month_year12.06";
    FillPlaceholders(line, 0);
    EXPECT_EQ(line, "2005 ***-1YEAR2006 ***correct_month_year12.06");
}

TEST(PlaceholderTest, TheFourInOneLineInTheirOrder) {
    std::string line =
        "***CORRECT_DAY_MONTH_YEAR05.03.06 ***CORRECT_O_MONTH_YEAR03.06 "
        "***CORRECT_MONTH_YEAR12.06 ***-1YEAR2006";
    FillPlaceholders(line, 25);
    EXPECT_EQ(line, W1251("5 МАРТА 2006 С 25 МАРТА ПО 24 АПРЕЛЯ 2006 Г. ДЕКАБРЬ 2006 2005"));
}

TEST(PlaceholderTest, EveryLineOfTheReport) {
    std::vector<std::string> lines{"***-1YEAR07", "x", "***CORRECT_MONTH_YEAR2.08"};
    FillPlaceholders(lines, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"2006", "x", std::string(W1251("ФЕВРАЛЬ 2008"))}));
}

TEST(ReportingPeriodTest, EndsOnTheDayBeforeTheReportingDayOfTheNextMonth) {
    struct Case {
        int month, year, day;
        std::string_view expected;
    };
    const Case cases[] = {
        {3, 6, 25, W1251("С 25 МАРТА ПО 24 АПРЕЛЯ 2006 Г.")},
        {1, 2007, 31, W1251("С 31 ЯНВАРЯ ПО 28 ФЕВРАЛЯ 2007 Г.")},
        {1, 2008, 31, W1251("С 31 ЯНВАРЯ ПО 29 ФЕВРАЛЯ 2008 Г.")},
        {3, 2008, 31, W1251("С 31 МАРТА ПО 30 АПРЕЛЯ 2008 Г.")},
        {12, 99, 2, W1251("С 2 ДЕКАБРЯ 2099 Г.  ПО 1 ЯНВАРЯ 2100 Г.")},
        {4, 6, 1, W1251("С 1 АПРЕЛЯ ПО 30 АПРЕЛЯ 2006 Г.")},
        {2, 0, 29, W1251("С 29 ФЕВРАЛЯ ПО 28 МАРТА 2000 Г.")},
        {2, 7, 29, ""},
        {4, 6, 31, ""},
        {0, 6, 1, ""},
        {5, -1, 1, ""},
        {5, 6, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReportingPeriodText(c.month, c.year, c.day), c.expected)
            << c.month << "." << c.year << " day " << c.day;
    }
}

TEST(ReportingPeriodTest, CenturyYearsThatAreNotLeap) {
    EXPECT_EQ(ReportingPeriodText(1, 2100, 31), W1251("С 31 ЯНВАРЯ ПО 28 ФЕВРАЛЯ 2100 Г."));
    EXPECT_EQ(ReportingPeriodText(2, 2100, 29), "");
    EXPECT_EQ(ReportingPeriodText(2, 2100, 1), W1251("С 1 ФЕВРАЛЯ ПО 28 ФЕВРАЛЯ 2100 Г."));
}

TEST(MonthTablesTest, NamesAndLengthsTheReportsUse) {
    EXPECT_EQ(MonthName(MonthForm::LowerNominative, 3), W1251("март"));
    EXPECT_EQ(MonthName(MonthForm::UpperNominative, 12), W1251("ДЕКАБРЬ"));
    EXPECT_EQ(MonthName(MonthForm::LowerGenitive, 5), W1251("мая"));
    EXPECT_EQ(MonthName(MonthForm::UpperGenitive, 1), W1251("ЯНВАРЯ"));
    EXPECT_EQ(MonthName(MonthForm::UpperGenitive, 0), "");
    EXPECT_EQ(MonthName(MonthForm::LowerGenitive, 13), "");
    for (int month = 1; month <= 12; ++month) {
        const std::string lower(MonthName(MonthForm::LowerGenitive, month));
        std::string upper(MonthName(MonthForm::UpperGenitive, month));
        for (char& c : upper) {
            c = static_cast<char>(platform::Cp1251ToLower(static_cast<std::uint8_t>(c)));
        }
        EXPECT_EQ(upper, lower) << "month " << month;
    }
    const int days[][3] = {{2, 2008, 29}, {2, 2007, 28},  {2, 2000, 29}, {2, 2100, 28},
                           {4, 2006, 30}, {12, 2006, 31}, {13, 2006, 0}, {0, 2006, 0}};
    for (const auto& d : days) {
        EXPECT_EQ(platform::DaysInMonth(d[1], d[0]), d[2]) << d[0] << "." << d[1];
    }
    CalendarDate january{2007, 1, 10};
    CalendarDate december = PreviousMonth(january);
    EXPECT_EQ(december.year, 2006);
    EXPECT_EQ(december.month, 12);
}

}  // namespace
}  // namespace calvix
