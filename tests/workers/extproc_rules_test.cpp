// The text rules of the runner's list mode.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "workers/uthreadextproc.h"

namespace {

using namespace workers::extproc;

TEST(CommandText, SplitsIntoFileAndTwoValues) {
    const struct {
        const char* text;
        const char* file;
        const char* value1;
        const char* value2;
    } cases[] = {
        {"_file.bat 7 3", "_file.bat", "7", "3"},
        {"  _file.bat    12   4  ", "_file.bat", "12", "4"},
        {"_file.bat 7 3 dropped words", "_file.bat", "7", "3"},
        {"_file.bat 7", "_file.bat", "7", ""},
        {"_file.bat", "_file.bat", "", ""},
        {"\t_file.bat\t7 3\r\n", "_file.bat\t7", "3", ""},  // only a space separates
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        const CommandText parts = SplitCommandText(c.text);
        EXPECT_EQ(parts.listFile, c.file) << c.text;
        EXPECT_EQ(parts.value1, c.value1) << c.text;
        EXPECT_EQ(parts.value2, c.value2) << c.text;
    }
}

TEST(CommandText, LinesEndInCrLfLfOrCr) {
    const struct {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\n\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextLines(c.text), c.lines) << c.text;
    }
}

TEST(CommandText, ProgramLinesHaveExeInTheirFirstWord) {
    const struct {
        const char* line;
        bool program;
    } cases[] = {
        {"fenlor.exe %2 %1 dat", true},
        {"   fenlor.exe", true},
        {"hc\\fenlor.exe 1", true},
        {"x.exe.bak 1", true},  // contains, not ends with
        {"FENLOR.EXE %2 %1 dat", false},
        {"fenlor.Exe 1", false},
        {"rem fenlor.exe 1", false},
        {"", false},
        {"@echo off", false},
        {"fenlor.exe\t3", true},  // a tab does not end the first word
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsProgramLine(c.line), c.program) << c.line;
    }
}

TEST(CommandText, SubstitutesNonEmptyValuesEverywhere) {
    const struct {
        const char* line;
        const char* value1;
        const char* value2;
        const char* result;
    } cases[] = {
        {"fenlor.exe %2 %1 dat", "7", "3", "fenlor.exe 3 7 dat"},
        {"p.exe %1%1 %2%2", "7", "3", "p.exe 77 33"},
        {"p.exe %1 %2", "", "3", "p.exe %1 3"},
        {"p.exe %1 %2", "7", "", "p.exe 7 %2"},
        {"p.exe %11", "7", "", "p.exe 71"},
        {"p.exe %3 %%1", "7", "3", "p.exe %3 %7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Substitute(c.line, c.value1, c.value2), c.result) << c.line;
    }
}

TEST(ReadingTime, MinutesAndSecondsOfTheTimeOfDay) {
    using std::chrono::milliseconds;
    const struct {
        long long ms;
        std::string_view text;
    } cases[] = {
        {0, W1251("Общее время считывания: 0 мин 0 сек")},
        {999, W1251("Общее время считывания: 0 мин 0 сек")},
        {61'000, W1251("Общее время считывания: 1 мин 1 сек")},
        {599'999, W1251("Общее время считывания: 9 мин 59 сек")},
        {600'000, W1251("Общее время считывания: 10 мин 0 сек")},
        {3'601'000, W1251("Общее время считывания: 0 мин 1 сек")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadingTimeText(milliseconds(c.ms)), c.text) << c.ms;
    }
}

}  // namespace
