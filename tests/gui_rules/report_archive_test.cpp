#include "gui/rules/report_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "gui/rules/report_files.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "tests/support/scratch_folder.h"

namespace calvix {
namespace {

namespace fs = std::filesystem;

using testsupport::ReadBytes;
using testsupport::WriteBytes;

std::size_t DiskBytes(std::string_view name1251) {
    return platform::Cp1251ToUtf8(name1251).size();
}

std::string Repeat(std::string_view unit, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += unit;
    }
    return out;
}

std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(platform::Utf8ToCp1251(entry.path().filename().string()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string kLetter(W1251("ж"));  // two bytes on disk

TEST(ArchiveFileNameTest, NamesThatFitStayTheEscapedTitle) {
    struct Case {
        std::string title;
        std::string name;
    };
    const std::vector<Case> cases{
        {"a:b%c", "a%3Ab%25c.txt"},
        {std::string(W1251("Прибор № 5, 3, Ведомость")),
         std::string(W1251("Прибор № 5, 3, Ведомость.txt"))},
        {Repeat("a", 251), Repeat("a", 251) + ".txt"},                 // 255 bytes
        {Repeat(kLetter, 125) + "a", Repeat(kLetter, 125) + "a.txt"},  // 255 bytes
        {"x", "x.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ArchiveFileName(c.title), c.name) << c.title;
        EXPECT_FALSE(IsShortenedArchiveName(c.name)) << c.title;
        EXPECT_EQ(ArchiveReportPath(c.title), "Archive\\" + c.name);
    }
}

TEST(ArchiveFileNameTest, LongTitlesAreCutWithinTheLimitAndStayUnique) {
    const std::vector<std::string> titles{
        Repeat("a", 252),
        Repeat(kLetter, 126),
        Repeat(kLetter, 200) + "1",
        Repeat(kLetter, 200) + "2",
        Repeat(":", 120),                                             // escapes of three bytes each
        std::string(W1251("Прибор № 1, ")) + Repeat(W1251("№"), 90),  // three bytes each
    };
    std::vector<std::string> names;
    for (const std::string& title : titles) {
        const std::string name = ArchiveFileName(title);
        SCOPED_TRACE(name);
        EXPECT_LE(DiskBytes(name), kMaxFileNameBytes);
        EXPECT_LE(DiskBytes(TitleFileName(name)), kMaxFileNameBytes);
        EXPECT_TRUE(IsShortenedArchiveName(name));
        EXPECT_EQ(name.substr(name.size() - 4), ".txt");
        EXPECT_GT(DiskBytes(name), kMaxFileNameBytes - 30) << "the cut keeps most of the title";
        EXPECT_EQ(ArchiveFileName(title), name) << "the same title, the same name";
        names.push_back(name);
    }
    const std::string escapes = ArchiveFileName(Repeat(":", 120));
    const std::size_t cut = escapes.find_first_not_of("%3A");
    EXPECT_EQ(cut, escapes.size() - 4 - 17);
    EXPECT_EQ(cut % 3, 0U) << "no escape is split";
    std::vector<std::string> unique = names;
    std::sort(unique.begin(), unique.end());
    EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end());
}

TEST(ArchiveListingTest, LongTitlesListWithTheirWholeTitleAndDeleteWithIt) {
    testsupport::ScratchFolder folder;
    ASSERT_TRUE(MakeArchiveFolder(folder.Path()));
    const std::string one = std::string(W1251("Прибор № 7, 3, ")) + Repeat(kLetter, 200) + "1";
    const std::string two = std::string(W1251("Прибор № 7, 3, ")) + Repeat(kLetter, 200) + "2";
    for (const std::string& title : {one, two}) {
        const std::string path = ArchiveTargetPath(folder.Path(), title);
        ASSERT_TRUE(WriteArchiveReport(folder.Path(), path, title, {title}));
    }
    std::vector<ArchiveEntry> entries;
    ASSERT_TRUE(ListNameMemoCreate(folder.Path(), entries));
    ASSERT_EQ(entries.size(), 2U) << "the title files are not listed";
    EXPECT_EQ(entries[0].title, one);
    EXPECT_EQ(entries[1].title, two);
    EXPECT_EQ(ReadBytes(ProgramPath(entries[1].path, folder.Path())), two + "\r\n");
    EXPECT_EQ(FolderNames(folder.Path() / "Archive").size(), 4U);

    // A title file that names another title does not rename the report.
    const fs::path titleFile =
        folder.Path() / "Archive" / platform::Cp1251ToUtf8(TitleFileName(ArchiveFileName(one)));
    WriteBytes(titleFile, "something else");
    ASSERT_TRUE(ListNameMemoCreate(folder.Path(), entries));
    EXPECT_EQ(entries[0].title,
              DecodeArchiveName(ArchiveFileName(one).substr(0, ArchiveFileName(one).size() - 4)));

    ASSERT_TRUE(DeleteArchiveReport(folder.Path(), ArchiveReportPath(two)));
    ASSERT_TRUE(DeleteArchiveReport(folder.Path(), ArchiveReportPath(one)));
    EXPECT_TRUE(FolderNames(folder.Path() / "Archive").empty());
}

TEST(ArchiveListingTest, EntriesKeepTheirRealFileNames) {
    testsupport::ScratchFolder folder;
    const fs::path archive = folder.Path() / "archive";
    struct Case {
        std::string file;   // on disk, UTF-8
        std::string title;  // as listed, UTF-8
    };
    const std::vector<Case> cases{
        {"50%.txt", "50%"},  // a stray "%"
        {"%41.txt", "A"},    // escaped although it need not be
        {"b%3a.txt", "b:"},  // lower-case digits
        {"C.TXT", "C"},      // the ending in capitals
        {"x.txt", "x"},      // one letter
        {"%zz.txt", "%zz"},
    };
    for (const Case& c : cases) {
        WriteBytes(archive / c.file, c.file);
    }
    WriteBytes(archive / ".txt", "not a report");
    std::vector<ArchiveEntry> entries;
    ASSERT_TRUE(ListNameMemoCreate(folder.Path(), entries));
    ASSERT_EQ(entries.size(), cases.size());
    for (const Case& c : cases) {
        const auto found =
            std::find_if(entries.begin(), entries.end(),
                         [&c](const ArchiveEntry& e) { return e.path == "Archive\\" + c.file; });
        ASSERT_NE(found, entries.end()) << c.file;
        EXPECT_EQ(found->title, c.title);
        EXPECT_EQ(ReadBytes(ProgramPath(found->path, folder.Path())), c.file)
            << "opens the real file";
    }
    // Saving under a listed title replaces that very file rather than adding a second entry.
    const std::string target = ArchiveTargetPath(folder.Path(), "50%");
    EXPECT_EQ(target, "Archive\\50%.txt");
    ASSERT_TRUE(WriteArchiveReport(folder.Path(), target, "50%", {"new"}));
    EXPECT_EQ(ReadBytes(archive / "50%.txt"), "new\r\n");
    EXPECT_FALSE(fs::exists(archive / "50%25.txt"));
    ASSERT_TRUE(DeleteArchiveReport(folder.Path(), "Archive\\%41.txt"));
    EXPECT_FALSE(fs::exists(archive / "%41.txt"));
    EXPECT_EQ(ArchiveTargetPath(folder.Path(), "new:"), "Archive\\new%3A.txt");
}

TEST(ArchiveListingTest, SortsWithoutCaseAndYoBesideYe) {
    std::vector<std::string> titles;
    for (const char* utf8 : {"яма", "Жук", "ёлка", "Ёж", "Ель", "еда", "b", "A", "Ежи"}) {
        titles.push_back(platform::Utf8ToCp1251(utf8));
    }
    std::sort(titles.begin(), titles.end(),
              [](const std::string& a, const std::string& b) { return ArchiveTitleLess(a, b); });
    std::vector<std::string> utf8;
    for (const std::string& title : titles) {
        utf8.push_back(platform::Cp1251ToUtf8(title));
    }
    EXPECT_EQ(utf8, (std::vector<std::string>{"A", "b", "еда", "Ежи", "Ель", "Ёж", "ёлка", "Жук",
                                              "яма"}));
}

TEST(ArchiveWriteTest, ReplacesThroughATemporaryFileAndKeepsPermissions) {
    testsupport::ScratchFolder folder;
    const fs::path archive = folder.Path() / "Archive";
    ASSERT_TRUE(MakeArchiveFolder(folder.Path()));
    const std::string longest = Repeat("a", 251);  // a 255-byte name leaves no room for endings
    for (const std::string& title : {std::string("r"), longest}) {
        const std::string path = ArchiveTargetPath(folder.Path(), title);
        ASSERT_TRUE(WriteArchiveReport(folder.Path(), path, title, {"one"}));
        ::chmod(ProgramPath(path, folder.Path()).c_str(), 0640);
        ASSERT_TRUE(WriteArchiveReport(folder.Path(), path, title, {"two", "lines"}));
        EXPECT_EQ(ReadBytes(ProgramPath(path, folder.Path())), "two\r\nlines\r\n");
        struct stat info {};
        ASSERT_EQ(::stat(ProgramPath(path, folder.Path()).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640U);
    }
    EXPECT_EQ(FolderNames(archive), (std::vector<std::string>{longest + ".txt", "r.txt"}))
        << "no temporary file is left";

    fs::create_directories(archive / "dir.txt");  // a target that cannot take a report
    EXPECT_FALSE(WriteArchiveReport(folder.Path(), "Archive\\dir.txt", "dir", {"x"}));
    EXPECT_FALSE(DeleteArchiveReport(folder.Path(), "Archive\\dir.txt"));
    EXPECT_TRUE(fs::is_directory(archive / "dir.txt"));
    EXPECT_EQ(FolderNames(archive).size(), 3U);
    EXPECT_TRUE(DeleteArchiveReport(folder.Path(), "Archive\\gone.txt")) << "already gone";
}

TEST(ArchiveWriteTest, ArchiveFolderIsMadeWhereItCanBe) {
    testsupport::ScratchFolder folder;
    EXPECT_FALSE(ArchiveFolderExists(folder.Path()));
    WriteBytes(folder.Path() / "Archive", "a file in the way");
    EXPECT_FALSE(MakeArchiveFolder(folder.Path()));
    fs::remove(folder.Path() / "Archive");
    fs::create_directories(folder.Path() / "archive");
    EXPECT_TRUE(MakeArchiveFolder(folder.Path())) << "found without regard to case";
    EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::string>{"archive"});
}

TEST(ArchiveWriteTest, CopiesCorrectedReportsOrSaysWhyNot) {
    testsupport::ScratchFolder folder;
    ASSERT_TRUE(MakeArchiveFolder(folder.Path()));
    WriteBytes(folder.Path() / "hc" / "txt" / "r.txt", "line\r\n");
    const auto mark = [](std::vector<std::string>& lines) { lines.push_back("corrected"); };
    const auto fail = [](std::vector<std::string>&) { throw std::runtime_error("bad cell"); };
    struct Case {
        std::string source;
        std::function<void(std::vector<std::string>&)> correct;
        ArchiveCopy result;
        std::string written;  // empty: nothing written
    };
    const std::vector<Case> cases{
        {"hc\\txt\\r.txt", mark, ArchiveCopy::kSaved, "line\r\ncorrected\r\n"},
        {"hc\\txt\\r.txt", nullptr, ArchiveCopy::kSaved, "line\r\n"},
        {"hc\\txt\\missing.txt", mark, ArchiveCopy::kMissing, ""},
        {"", mark, ArchiveCopy::kMissing, ""},
        {"hc\\txt\\r.txt", fail, ArchiveCopy::kFailed, ""},
        {"hc\\txt", mark, ArchiveCopy::kFailed, ""},
    };
    for (const Case& c : cases) {
        fs::remove(folder.Path() / "Archive" / "t.txt");
        EXPECT_EQ(CopyIntoArchive(folder.Path(), c.source, "Archive\\t.txt", "t", c.correct),
                  c.result)
            << c.source;
        EXPECT_EQ(ReadBytes(folder.Path() / "Archive" / "t.txt"), c.written) << c.source;
    }
}

}  // namespace
}  // namespace calvix
