#include "platform/win_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;

class WinPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        const std::string name =
            "win_path_test_" + std::to_string(random()) + std::to_string(random());
        root_ = fs::temp_directory_path() / name;
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void MakeFile(const fs::path& relative) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << "x";
    }

    fs::path root_;
};

TEST_F(WinPathTest, FindsExistingEntriesWhateverTheirCase) {
    MakeFile("hc/dat1hc");
    fs::create_directories(root_ / "archive");
    EXPECT_EQ(ResolvePath("HC\\dat1hc", root_), root_ / "hc" / "dat1hc");
    EXPECT_EQ(ResolvePath("HC\\DAT1HC", root_), root_ / "hc" / "dat1hc");
    EXPECT_EQ(ResolvePath("Archive", root_), root_ / "archive");
    EXPECT_EQ(ResolvePath("Archive\\", root_), root_ / "archive");
}

TEST_F(WinPathTest, KeepsMissingComponentsAsWritten) {
    fs::create_directories(root_ / "archive");
    EXPECT_EQ(ResolvePath("Txt\\New\\Report.TXT", root_), root_ / "Txt" / "New" / "Report.TXT");
    EXPECT_EQ(ResolvePath("ARCHIVE\\Отчет 1.txt", root_), root_ / "archive" / "Отчет 1.txt");
    EXPECT_EQ(ResolvePath("", root_), root_);
}

TEST_F(WinPathTest, PrefersTheExactNameThenTheFirstInSortedOrder) {
    for (const char* name : {"data", "Data", "DATA"}) {
        fs::create_directories(root_ / name);
    }
    EXPECT_EQ(ResolvePath("Data", root_), root_ / "Data");
    EXPECT_EQ(ResolvePath("dATA", root_), root_ / "DATA");
}

TEST_F(WinPathTest, MatchesCyrillicNamesWithoutRegardToCase) {
    MakeFile("Отчёты/январь.txt");
    fs::create_directories(root_ / "ёлка");
    EXPECT_EQ(ResolvePath("ОТЧЁТЫ\\Январь.TXT", root_), root_ / "Отчёты" / "январь.txt");
    EXPECT_EQ(ResolvePath("ЁЛКА", root_), root_ / "ёлка");
    EXPECT_EQ(ResolvePath("ЕЛКА", root_), root_ / "ЕЛКА");  // Е is not Ё
}

TEST_F(WinPathTest, HandlesDotsAndAbsolutePaths) {
    MakeFile("hc/dat1hc");
    fs::create_directories(root_ / "archive");
    EXPECT_EQ(ResolvePath(".\\hc\\..\\\\Archive\\.", root_), root_ / "archive");

    // Above the base, ".." stays in the path and lookups go on from there.
    std::string upperName = root_.filename().string();
    std::transform(upperName.begin(), upperName.end(), upperName.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(ResolvePath("..\\" + upperName + "\\HC", root_),
              root_ / ".." / root_.filename() / "hc");

    std::string absolute = root_.string() + "/HC/Dat1HC";
    std::replace(absolute.begin(), absolute.end(), '/', '\\');
    EXPECT_EQ(ResolvePath(absolute, "/nonexistent"), root_ / "hc" / "dat1hc");
}

TEST_F(WinPathTest, AFileUsedAsAFolderMatchesNothingBelowIt) {
    MakeFile("hc/dat1hc");
    EXPECT_EQ(ResolvePath("HC\\dat1hc\\X", root_), root_ / "hc" / "dat1hc" / "X");
}

}  // namespace
}  // namespace platform
