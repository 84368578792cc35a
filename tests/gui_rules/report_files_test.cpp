#include "gui/rules/report_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "tests/support/scratch_folder.h"

namespace calvix {
namespace {

namespace fs = std::filesystem;

using testsupport::ReadBytes;
using testsupport::WriteBytes;

TEST(ArchiveNameTest, EscapesTheCharactersAFileNameCannotHold) {
    EXPECT_EQ(EncodeArchiveName("a\\b/c:d*e?f\"g>h<i|j%k"),
              "a%5Cb%2Fc%3Ad%2Ae%3Ff%22g%3Eh%3Ci%7Cj%25k");
    EXPECT_EQ(EncodeArchiveName(std::string("\x01\x1F\t", 3)), "%01%1F%09");
    EXPECT_EQ(EncodeArchiveName(std::string("\0", 1)), "%00");
    const std::string cyrillic(W1251("Прибор № 5, ул. Мира; отчет (май) #1 & [x]"));
    EXPECT_EQ(EncodeArchiveName(cyrillic), cyrillic) << "everything else stays";
    EXPECT_EQ(ArchiveReportPath("a:b"), "Archive\\a%3Ab.txt");
}

TEST(ArchiveNameTest, DecodingRestoresEveryEscapedTitle) {
    std::string all;
    for (int code = 0; code < 256; ++code) {
        all += static_cast<char>(code);
    }
    EXPECT_EQ(DecodeArchiveName(EncodeArchiveName(all)), all);
    EXPECT_EQ(DecodeArchiveName("%41%3a%7c"), "A:|") << "either case of hex digits";
    EXPECT_EQ(DecodeArchiveName("%2541"), "%41") << "an escaped percent is not decoded twice";
    EXPECT_EQ(DecodeArchiveName("50%"), "50%");
    EXPECT_EQ(DecodeArchiveName("50%4"), "50%4");
    EXPECT_EQ(DecodeArchiveName("%zz%4G"), "%zz%4G");
}

TEST(ReportTableTest, NeedsThreeBordersOrTwoWithATail) {
    std::vector<std::string> lines{"title", "+--+--+", "| a |", "+--+--+", "| 1 |", "+--+"};
    EXPECT_TRUE(ReportHasTable(lines));
    lines = {"title", "  +---", "| a |", "x+--x"};
    EXPECT_FALSE(ReportHasTable(lines));
    lines.resize(lines.size() + 23, "row");
    EXPECT_FALSE(ReportHasTable(lines)) << "23 lines after the second border";
    lines.push_back("row");
    EXPECT_TRUE(ReportHasTable(lines)) << "24 lines after the second border";
    EXPECT_FALSE(ReportHasTable({"+--", "text", "text"}));
    EXPECT_FALSE(ReportHasTable({}));
    EXPECT_FALSE(ReportHasTable({"+-+-", "|--|", "+ --"}));
}

TEST(ArchiveListTest, ListsDecodedTitlesSortedWithoutCase) {
    testsupport::ScratchFolder folder;
    const fs::path archive = folder.Path() / "archive";  // found as "Archive"
    WriteBytes(archive / "b report.txt", "x");
    WriteBytes(
        archive / (platform::Cp1251ToUtf8(W1251("Прибор № 1, Ведомость%3A май%25")) + ".txt"), "x");
    WriteBytes(archive / "A Report.TXT", "x");
    WriteBytes(archive / "c.txt", "x");
    WriteBytes(archive / "notes.doc", "x");
    WriteBytes(archive / ".txt", "x");
    fs::create_directories(archive / "folder.txt");
    // A name copied from another system in 1251 bytes.
    WriteBytes(archive / (std::string(W1251("Ж отчет")) + ".txt"), "x");

    std::vector<ArchiveEntry> entries{{"stale", "stale"}};
    ASSERT_TRUE(ListNameMemoCreate(folder.Path(), entries));
    std::vector<std::string> utf8;
    for (const ArchiveEntry& entry : entries) {
        utf8.push_back(platform::Cp1251ToUtf8(entry.title));
    }
    EXPECT_EQ(utf8, (std::vector<std::string>{"A Report", "b report", "c", "Ж отчет",
                                              "Прибор № 1, Ведомость: май%"}));
}

TEST(ArchiveListTest, EmptyOrMissingArchive) {
    testsupport::ScratchFolder folder;
    std::vector<ArchiveEntry> entries;
    EXPECT_FALSE(ListNameMemoCreate(folder.Path(), entries));
    WriteBytes(folder.Path() / "Archive" / ".txt", "x");
    WriteBytes(folder.Path() / "Archive" / "report.doc", "x");
    EXPECT_FALSE(ListNameMemoCreate(folder.Path(), entries));
    EXPECT_TRUE(entries.empty());
    WriteBytes(folder.Path() / "Archive" / "a.txt", "x");
    EXPECT_TRUE(ListNameMemoCreate(folder.Path(), entries));
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0].title, "a");
    EXPECT_EQ(entries[0].path, "Archive\\a.txt");
}

TEST(TextFileTest, LinesSplitOnEveryLineEnd) {
    testsupport::ScratchFolder folder;
    WriteBytes(folder.Path() / "r.txt", "one\r\ntwo\nthree\rfour\r\n\r\nlast");
    std::vector<std::string> lines;
    ASSERT_TRUE(LoadTextLines(folder.Path() / "r.txt", lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four", "", "last"}));
    EXPECT_FALSE(LoadTextLines(folder.Path() / "missing.txt", lines));
    EXPECT_FALSE(LoadTextLines(folder.Path(), lines));
    ASSERT_TRUE(SaveTextLines(folder.Path() / "out.txt", {"a", "", "b"}));
    EXPECT_EQ(ReadBytes(folder.Path() / "out.txt"), "a\r\n\r\nb\r\n");
    EXPECT_FALSE(SaveTextLines(folder.Path() / "no" / "out.txt", {"a"}));
}

TEST(StartFoldersTest, OnlyTextFilesAreDeleted) {
    testsupport::ScratchFolder folder;
    const fs::path txt = folder.Path() / "TXT";
    WriteBytes(txt / "a.txt", "x");
    WriteBytes(txt / "B.TxT", "x");
    WriteBytes(txt / "keep.dat", "x");
    WriteBytes(txt / "keep.txt.bak", "x");
    WriteBytes(txt / "sub" / "inner.txt", "x");
    ClearTextFolder(folder.Path(), "txt\\");
    EXPECT_FALSE(fs::exists(txt / "a.txt"));
    EXPECT_FALSE(fs::exists(txt / "B.TxT"));
    EXPECT_TRUE(fs::exists(txt / "keep.dat"));
    EXPECT_TRUE(fs::exists(txt / "keep.txt.bak"));
    EXPECT_TRUE(fs::exists(txt / "sub" / "inner.txt"));
    ClearTextFolder(folder.Path(), "hc\\txt\\");  // missing: nothing happens
    EXPECT_FALSE(fs::exists(folder.Path() / "hc"));
}

TEST(StartFoldersTest, MemoReportsMoveIntoAnExistingArchive) {
    testsupport::ScratchFolder folder;
    WriteBytes(folder.Path() / "memo" / "one.txt", "line 1\nline 2");
    WriteBytes(folder.Path() / "memo" / "two.txt", "x\r\n");
    WriteBytes(folder.Path() / "memo" / "other.doc", "x");

    MigrateMemoFolder(folder.Path());  // no archive folder: everything stays, none is made
    EXPECT_TRUE(fs::exists(folder.Path() / "memo" / "one.txt"));
    EXPECT_FALSE(fs::exists(folder.Path() / "archive"));
    EXPECT_FALSE(fs::exists(folder.Path() / "Archive"));

    fs::create_directories(folder.Path() / "Archive");
    MigrateMemoFolder(folder.Path());
    EXPECT_EQ(ReadBytes(folder.Path() / "Archive" / "one.txt"), "line 1\r\nline 2\r\n");
    EXPECT_EQ(ReadBytes(folder.Path() / "Archive" / "two.txt"), "x\r\n");
    EXPECT_FALSE(fs::exists(folder.Path() / "memo" / "one.txt"));
    EXPECT_FALSE(fs::exists(folder.Path() / "memo" / "two.txt"));
    EXPECT_TRUE(fs::exists(folder.Path() / "memo" / "other.doc"));
}

// The operator manual shipped in site/ is what the start window's button opens.
TEST(ProgramPathTest, FindsTheShippedOperatorManual) {
    const fs::path manual =
        ProgramPath(W1251("HC\\ведар_рп.doc"), fs::path(CALVIX_SOURCE_DIR) / "site");
    ASSERT_TRUE(fs::is_regular_file(manual)) << manual;
    EXPECT_EQ(ReadBytes(manual).rfind("{\\rtf1\\ansi\\ansicpg1251", 0), 0u);
}

}  // namespace
}  // namespace calvix
