// The font size and orientation rules of the printer choice box.
#include "gui/rules/printer_choice.h"

#include <gtest/gtest.h>

#include "gui/rules/texts.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

TEST(PrinterChoice, FontSizeTextOutsideTheRangeKeepsThePreviousSize) {
    const struct {
        std::string_view text;
        int expected;
    } cases[] = {{"6", 6}, {"16", 16},  {" 11 ", 11}, {"5", 12},  {"17", 12},         {"0", 12},
                 {"", 12}, {"abc", 12}, {"10pt", 12}, {"-8", 12}, {"99999999999", 12}};
    for (const auto& c : cases) {
        EXPECT_EQ(FontSizeFromText(c.text, 12), c.expected) << c.text;
    }
}

TEST(PrinterChoice, OrientationTextMapsToItsValueOrKeepsThePrevious) {
    EXPECT_EQ(OrientationFromText(W1251("вертикально"), 2), 1);
    EXPECT_EQ(OrientationFromText(W1251("горизонтально"), 1), 2);
    EXPECT_EQ(OrientationFromText(W1251("Вертикально"), 2), 2);
    EXPECT_EQ(OrientationFromText("", 1), 1);
    EXPECT_EQ(OrientationText(OrientationFromText(W1251("горизонтально"), 1)),
              W1251("горизонтально"));
}

TEST(PrinterChoice, BoxOffersEvenSizesAndBothOrientations) {
    EXPECT_EQ(FontSizeItems(), (std::vector<std::string>{"6", "8", "10", "12", "14", "16"}));
    EXPECT_EQ(OrientationItems().front(), OrientationText(PrintChoice{}.orientation));
    EXPECT_EQ(PrintChoice{}.fontSize, 10);
}

TEST(PrinterChoice, LabelsSayWhetherPrintersWereFound) {
    EXPECT_EQ(LabelsFor(true).first, text::kPrinterChoose);
    EXPECT_EQ(LabelsFor(false).first, text::kPrintersNotFound);
    EXPECT_EQ(LabelsFor(false).second, text::kPrinterGoOn);
}

}  // namespace
}  // namespace calvix
