// Number, time and duration forms of the history file and the statistics.
#include "modem/texts.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace {

using tarvex::LocalTime;

std::string Utf8(const std::string& text) {
    return platform::Cp1251ToUtf8(text);
}

TEST(Texts, TimeStampLineHasTwoSpacesBetweenTimeAndDate) {
    EXPECT_EQ(tarvex::TimeStampLine(LocalTime{2026, 12, 6, 14, 5, 33, 999}),
              "14:05:33  06-12-2026\r\n");
    EXPECT_EQ(tarvex::TimeStampLine(LocalTime{2001, 1, 9, 0, 0, 0, 0}), "00:00:00  09-01-2001\r\n");
}

TEST(Texts, ATimeThatCannotBeFormattedGivesAnEmptyLine) {
    EXPECT_EQ(tarvex::TimeStampLine(LocalTime{}), "\r\n");
    EXPECT_EQ(tarvex::TimeStampLine(LocalTime{2026, 13, 1, 0, 0, 0, 0}), "\r\n");
}

TEST(Texts, DurationsHaveExactlyThreeDigitsOfMilliseconds) {
    EXPECT_EQ(tarvex::SecondsText(12345), "12,345");
    EXPECT_EQ(tarvex::SecondsText(61500), "61,500");
    EXPECT_EQ(tarvex::SecondsText(7), "0,007");
    EXPECT_EQ(tarvex::SecondsText(0), "0,000");
}

TEST(Texts, TheHourFormCarriesNoLeadingZeros) {
    EXPECT_EQ(Utf8(tarvex::HourText(123, 0)), "0ч 2м 3,000с");
    EXPECT_EQ(Utf8(tarvex::HourText(3912, 345)), "1ч 5м 12,345с");
    EXPECT_EQ(Utf8(tarvex::HourText(0, 0)), "0ч 0м 0,000с");
    EXPECT_EQ(Utf8(tarvex::HourText(100 * 3600 + 59, 1)), "100ч 0м 59,001с");
}

TEST(Texts, CounterPairsShowThePercentageOnlyWhenThereWereOperations) {
    EXPECT_EQ(tarvex::PairText(4, 5), "4/5 (80 %)");
    EXPECT_EQ(tarvex::PairText(2, 3), "2/3 (66 %)");
    EXPECT_EQ(tarvex::PairText(0, 0), "0/0");
    EXPECT_EQ(tarvex::PairText(0, 7), "0/7 (0 %)");
    // No overflow in the percentage of huge counters.
    EXPECT_EQ(tarvex::PairText(4000000000u, 4000000000u), "4000000000/4000000000 (100 %)");
}

}  // namespace
