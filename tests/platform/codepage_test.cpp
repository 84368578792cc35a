#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/cp1251_literal.h"

namespace platform {
namespace {

// Every Cyrillic letter of 1251: А..я at C0..FF, then Ё and ё.
std::string AllRussianLetters1251() {
    std::string letters;
    for (int b = 0xC0; b <= 0xFF; ++b) {
        letters += static_cast<char>(b);
    }
    return letters + "\xA8\xB8";
}

TEST(Cp1251Literal, EncodesRussianTextAtCompileTime) {
    constexpr std::string_view error = W1251("Ошибка связи.");
    EXPECT_EQ(error, "\xCE\xF8\xE8\xE1\xEA\xE0\x20\xF1\xE2\xFF\xE7\xE8\x2E");
    EXPECT_EQ(W1251("№"), "\xB9");
    EXPECT_EQ(W1251("Ёё"), "\xA8\xB8");
    EXPECT_EQ(W1251("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюяЁё"),
              AllRussianLetters1251());
    EXPECT_EQ(W1251("да"), "\xE4\xE0");
    EXPECT_TRUE(W1251("").empty());
}

TEST(CodePage, MapsBytesToTheirCodePoints) {
    EXPECT_EQ(Cp1251ToUnicode(0xC0), U'А');
    EXPECT_EQ(Cp1251ToUnicode(0xB9), U'№');
    EXPECT_EQ(Cp1251ToUnicode(0x98), 0xFFFDu);  // undefined in 1251
    EXPECT_EQ(Cp866ToUnicode(0x80), U'А');
    EXPECT_EQ(Cp866ToUnicode(0xAF), U'п');
    EXPECT_EQ(Cp866ToUnicode(0xE0), U'р');
    EXPECT_EQ(Cp866ToUnicode(0xB3), U'│');
    EXPECT_EQ(Cp866ToUnicode(0xFF), 0x00A0u);
    EXPECT_EQ(UnicodeToCp866(U'№'), 0xFC);
    EXPECT_EQ(UnicodeToCp1251(U'中'), '?');
    EXPECT_EQ(UnicodeToCp866(U'€'), '?');
}

TEST(CodePage, RussianLettersSurviveTheTripThrough866) {
    const std::string letters = AllRussianLetters1251();
    const std::string oem = Cp1251ToCp866(letters);
    EXPECT_EQ(oem.substr(0, 3), "\x80\x81\x82");        // А Б В
    EXPECT_EQ(oem.substr(oem.size() - 2), "\xF0\xF1");  // Ё ё
    EXPECT_EQ(Cp866ToCp1251(oem), letters);
    EXPECT_EQ(Cp866ToCp1251("\xFC \xF8"), "\xB9 \xB0");  // № °
}

TEST(CodePage, BytesWithoutEquivalentBecomeQuestionMarks) {
    std::string boxDrawing;
    for (int b = 0xB0; b <= 0xDF; ++b) {
        boxDrawing += static_cast<char>(b);
    }
    EXPECT_EQ(Cp866ToCp1251(boxDrawing), std::string(boxDrawing.size(), '?'));
    EXPECT_EQ(Cp1251ToCp866("\x80\x88\x98"), "???");  // Ђ, €, undefined
    const std::string ascii("A\0\r\n~", 5);
    EXPECT_EQ(Cp1251ToCp866(ascii), ascii);
    EXPECT_EQ(Cp866ToCp1251(ascii), ascii);
}

TEST(CodePage, Utf8RoundTripKeepsEveryDefinedByte) {
    EXPECT_EQ(Cp1251ToUtf8(W1251("Ошибка связи. №")), "Ошибка связи. №");
    EXPECT_EQ(Utf8ToCp1251("Ёлка: 5 °C"), W1251("Ёлка: 5 °C"));
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    std::string expected = all;
    expected[0x98] = '?';
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), expected);
}

TEST(CodePage, MalformedUtf8GivesOneQuestionMarkPerBadByte) {
    EXPECT_EQ(Utf8ToCp1251("\x80"), "?");    // stray continuation
    EXPECT_EQ(Utf8ToCp1251("A\xD0"), "A?");  // cut off at the end
    EXPECT_EQ(Utf8ToCp1251("\xD0"
                           "A"),
              "?A");                                      // missing continuation
    EXPECT_EQ(Utf8ToCp1251("\xE2\x82x"), "??x");          // three-byte form cut short
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??");            // overlong '/'
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???");       // surrogate
    EXPECT_EQ(Utf8ToCp1251("\xF4\x90\x80\x80"), "????");  // beyond U+10FFFF
    EXPECT_EQ(Utf8ToCp1251("\xFF\xD0\xAF"), W1251("?Я"));
    EXPECT_EQ(Utf8ToCp1251("中😀"), "??");  // well-formed but not in 1251: one each
}

}  // namespace
}  // namespace platform
