// The current values' texts: numbers, units, the pipelines shown, the sheet and the timer.
#include "gui/rules/current_values.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Number = std::array<std::uint8_t, 4>;

std::string S(std::string_view text) {
    return std::string(text);
}

// An answer of status 1 with every value zero (exponent byte 80h) and `number` at value k.
Bytes AnswerWith(std::size_t k, const Number& number, bool wiLayout = false) {
    Bytes answer(kCurrentAnswerSize, 0);
    answer[0] = 1;
    const std::size_t first = wiLayout ? 10 : 13;
    for (std::size_t i = 0; i < 16; ++i) {
        answer[first + 4 * i + 3] = 0x80;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        answer[first + 4 * k + i] = number[i];
    }
    return answer;
}

struct ValueCase {
    const char* name;
    std::size_t k;  // which value: pipeline k / 4 + 1, kind k % 4
    Number bytes;
    CurrentValuesFormat format;
    std::string expected;
};

class CurrentValueText : public ::testing::TestWithParam<ValueCase> {};

TEST_P(CurrentValueText, IsShownWithItsUnit) {
    const ValueCase& c = GetParam();
    const CurrentFieldTexts fields =
        DecodeCurrentValues(AnswerWith(c.k, c.bytes, c.format.wiLayout), c.format);
    EXPECT_EQ(fields[c.k], c.expected);
}

const CurrentValuesFormat kV45{45, false, true};
const CurrentValuesFormat kGcal{45, false, false};
const CurrentValuesFormat kWi{45, true, true};

INSTANTIATE_TEST_SUITE_P(
    Values, CurrentValueText,
    ::testing::Values(
        ValueCase{"Temperature", 2, {0x45, 0x23, 0x01, 0x81}, kV45, S(W1251("1,2345 град."))},
        ValueCase{"FlowTimes360", 0, {0x45, 0x23, 0x01, 0x81}, kV45, S(W1251("444,42 т/ч."))},
        ValueCase{"HeatPowerGj", 5, {0x00, 0x00, 0x10, 0x7E}, kV45, S(W1251("3,6 ГДж/ч."))},
        ValueCase{"HeatPowerGcal", 1, {0x00, 0x00, 0x10, 0x7E}, kGcal, S(W1251("3,6 ГКал/ч."))},
        ValueCase{"Pressure", 15, {0x00, 0x00, 0x62, 0x7F}, kV45, S(W1251("0,62 МПа."))},
        ValueCase{"ExponentBelowRange", 2, {0x45, 0x23, 0x01, 0x7B}, kV45, S(W1251("0 град."))},
        ValueCase{"ExponentAboveRange", 0, {0x45, 0x23, 0x01, 0x85}, kV45, S(W1251("0 т/ч."))},
        ValueCase{"Exactly900", 2, {0x00, 0x00, 0x90, 0x82}, kV45, S(W1251("900 град."))},
        ValueCase{"Above900", 6, {0x00, 0x10, 0x90, 0x82}, kV45, "##########"},
        ValueCase{"LargestFlow", 0, {0x99, 0x99, 0x99, 0x84}, kV45, S(W1251("35999964 т/ч."))},
        ValueCase{"SmallestFixed", 3, {0x00, 0x00, 0x01, 0x7C}, kV45, S(W1251("0,00001 МПа."))},
        ValueCase{"BelowFixed", 3, {0x00, 0x10, 0x00, 0x7C}, kV45, S(W1251("1E-6 МПа."))},
        ValueCase{"BelowFixedDigits", 3, {0x25, 0x00, 0x00, 0x7C}, kV45, S(W1251("2,5E-8 МПа."))},
        ValueCase{"WiFlowUnit", 0, {0x00, 0x00, 0x50, 0x7F}, kWi, S(W1251("180 куб.м/ч."))},
        ValueCase{"WiPowerExponentLess6", 1, {0x00, 0x00, 0x10, 0x84}, kWi, S(W1251("3,6 ГДж/ч."))},
        ValueCase{"WiPowerOutOfRange", 1, {0x00, 0x00, 0x10, 0x80}, kWi, S(W1251("0 ГДж/ч."))},
        ValueCase{"WiTemperature", 14, {0x45, 0x23, 0x01, 0x81}, kWi, S(W1251("1,2345 град."))}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(CurrentValues, ErrorCodesAreDecimal) {
    Bytes answer = AnswerWith(0, {0, 0, 0, 0x80});
    answer[4] = 0;
    answer[5] = 7;
    answer[6] = 200;
    answer[7] = 255;
    const CurrentFieldTexts fields = DecodeCurrentValues(answer, kV45);
    EXPECT_EQ(fields[16], "0");
    EXPECT_EQ(fields[17], "7");
    EXPECT_EQ(fields[18], "200");
    EXPECT_EQ(fields[19], "255");
}

TEST(CurrentValues, Version60LeavesPipelines3And4Empty) {
    Bytes answer = AnswerWith(8, {0x45, 0x23, 0x01, 0x81});
    answer[6] = 3;
    const CurrentFieldTexts fields = DecodeCurrentValues(answer, {60, false, true});
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_FALSE(fields[i].empty()) << i;
    }
    for (std::size_t i = 8; i < 16; ++i) {
        EXPECT_TRUE(fields[i].empty()) << i;
    }
    EXPECT_EQ(fields[16], "0");
    EXPECT_EQ(fields[17], "0");
    EXPECT_TRUE(fields[18].empty());
    EXPECT_TRUE(fields[19].empty());
}

TEST(CurrentValues, ShortAnswerShowsNothing) {
    const Bytes answer(kCurrentAnswerSize - 1, 1);
    for (const std::string& text : DecodeCurrentValues(answer, kV45)) {
        EXPECT_TRUE(text.empty());
    }
}

TEST(CurrentValues, FactoryNumberEndsAtZeroOrFf) {
    const std::string prefix(W1251("Заводской номер: "));
    EXPECT_EQ(FactoryNumberText(Bytes{1, '0', '4', '5', '2', '1', 45, 1}), prefix + "0452");
    EXPECT_EQ(FactoryNumberText(Bytes{1, '5', '.', '3', 0xFF, 0, 0, 0}), prefix + "5.3");
    EXPECT_EQ(FactoryNumberText(Bytes{1, '7', 0x00, '3', '4', 0, 0, 0}), prefix + "7");
    EXPECT_EQ(FactoryNumberText(Bytes{1}), prefix);
}

TEST(CurrentValues, ElapsedTimeShowsHoursOnlyWhenThereAreAny) {
    const std::string lead(W1251("Считываются данные. Общее время считывания: "));
    EXPECT_EQ(ElapsedTimeText(std::chrono::seconds(0)), lead + S(W1251("0 мин 0 сек")));
    EXPECT_EQ(ElapsedTimeText(std::chrono::seconds(3599)), lead + S(W1251("59 мин 59 сек")));
    EXPECT_EQ(ElapsedTimeText(std::chrono::seconds(3725)), lead + S(W1251("1 час 2 мин 5 сек")));
    EXPECT_EQ(ElapsedTimeText(std::chrono::seconds(-3)), lead + S(W1251("0 мин 0 сек")));
}

TEST(ActivityLamp, ShowsAtOnceOnAChangeAndBlinksWhileTheFlagStays) {
    using std::chrono::milliseconds;
    ActivityLampState lamp;
    const auto t0 = ActivityLampState::Clock::time_point{} + std::chrono::hours(1);
    struct Step {
        int ms;
        bool ok;
        bool visible;
        bool green;
    };
    const Step steps[] = {
        {0, true, true, true},       // the first exchange shows the lamp
        {400, true, true, true},     // unchanged within half a second
        {501, true, false, true},    // unchanged for longer: blinks off
        {700, true, false, true},    //   and stays off for half a second
        {1002, true, true, true},    //   then on again
        {1100, false, true, false},  // a failure shows it red at once
        {1300, true, true, true},    // and a success green at once
    };
    for (const Step& step : steps) {
        const ActivityLampState::Look look = lamp.Update(step.ok, t0 + milliseconds(step.ms));
        EXPECT_EQ(look.visible, step.visible) << step.ms;
        EXPECT_EQ(look.green, step.green) << step.ms;
    }
    lamp.Reset();
    EXPECT_TRUE(lamp.Update(true, t0 + milliseconds(1400)).visible);
}

TEST(CurrentValuesSheet, HasTitleLabelsAndTwentyFieldLines) {
    CurrentFieldTexts fields;
    fields[2] = S(W1251("1,2345 град."));
    fields[8] = std::string(23, 'x');
    fields[17] = "7";
    const std::vector<SheetLine> lines =
        CurrentValuesSheet("08.12.2026", "16:30:05", "N", "A", fields);
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0].offset, 400);
    EXPECT_EQ(lines[0].text, S(W1251("Ведомость текущих данных за 08.12.2026 время 16:30:05")));
    EXPECT_EQ(lines[1].offset, 500);
    EXPECT_EQ(lines[1].text, "N");
    EXPECT_EQ(lines[2].offset, 600);
    EXPECT_EQ(lines[2].text, "A");
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(lines[3 + i].offset, 800 + 100 * static_cast<int>(i));
    }
    EXPECT_EQ(lines[3].text, " " + std::string(23, '_') + S(W1251(" Расход по трубопроводу 1")));
    EXPECT_EQ(lines[5].text, S(W1251("1,2345 град. ")) + std::string(11, '_') +
                                 S(W1251(" Температура по трубопроводу 1")));
    EXPECT_EQ(lines[11].text, std::string(23, 'x') + S(W1251("  Расход по трубопроводу 3")));
    EXPECT_EQ(lines[16].text.substr(24), S(W1251(" Тепло по трубопроводу 4")));
    EXPECT_EQ(lines[17].text.substr(24), S(W1251(" Температура по трубопроводу 4")));
    EXPECT_EQ(lines[18].text.substr(24), S(W1251(" Давление по трубопроводу 4")));
    EXPECT_EQ(lines[20].text,
              "7 " + std::string(22, '_') + S(W1251(" Код ошибки по трубопроводу 2")));
    EXPECT_EQ(lines[22].text.substr(24), S(W1251(" Код ошибки по трубопроводу 4")));
}

}  // namespace
}  // namespace calvix
