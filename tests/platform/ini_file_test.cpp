#include "platform/ini_file.h"

#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "tests/support/scratch_folder.h"

namespace {

using platform::IniFile;

std::string W(std::string_view text1251) { return std::string(text1251); }

TEST(IniFile, ReadsRussianSectionsAndKeysWithSpaces) {
    IniFile ini;
    ini.Parse(W(W1251("[Чтение данных из TV540]\r\nабонент=5\r\nномер телефона= 8 800\r\n"
                      "; comment\r\n[Принтер]\r\nотступ слева=0x0A\r\n")));
    EXPECT_EQ(ini.ReadInteger(W1251("Чтение данных из TV540"), W1251("абонент"), 3), 5);
    EXPECT_EQ(ini.ReadString(W1251("Чтение данных из TV540"), W1251("номер телефона"), ""), " 8 800");
    EXPECT_EQ(ini.ReadInteger(W1251("Принтер"), W1251("отступ слева"), 4), 10);
    // Names compare without regard to case, Cyrillic included.
    EXPECT_EQ(ini.ReadInteger(W1251("ЧТЕНИЕ ДАННЫХ ИЗ tv540"), W1251("АБОНЕНТ"), 3), 5);
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{W(W1251("Чтение данных из TV540")),
                                                        W(W1251("Принтер"))}));
    EXPECT_EQ(ini.SectionKeys(W1251("Чтение данных из TV540")),
              (std::vector<std::string>{W(W1251("абонент")), W(W1251("номер телефона"))}));
}

TEST(IniFile, IntegersDecimalOrHexElseTheDefault) {
    long value = 0;
    EXPECT_TRUE(platform::ParseIniInteger("-5", value));
    EXPECT_EQ(value, -5);
    EXPECT_TRUE(platform::ParseIniInteger("0XfF", value));
    EXPECT_EQ(value, 255);
    for (const char* bad : {"", "12a", " 12", "0x", "x12", "99999999999", "1.5"}) {
        EXPECT_FALSE(platform::ParseIniInteger(bad, value)) << bad;
    }
    IniFile ini;
    ini.Parse("[s]\nn=abc\n");
    EXPECT_EQ(ini.ReadInteger("s", "n", 62), 62);
    EXPECT_EQ(ini.ReadInteger("s", "missing", 7), 7);
    EXPECT_EQ(ini.ReadInteger("missing", "n", 8), 8);
}

TEST(IniFile, DuplicatesAndOddLinesDoNotConfuseIt) {
    IniFile ini;
    ini.Parse("garbage line\n[a]\nk=1\nk=2\nno equals sign\n[b]\nx=1\n[A]\nj=3\n[]\n=empty key\n");
    EXPECT_EQ(ini.ReadString("a", "k", ""), "1") << "the first of two keys counts";
    EXPECT_EQ(ini.ReadString("a", "j", ""), "3") << "a repeated section continues the first";
    EXPECT_EQ(ini.Sections().size(), 3u);
    EXPECT_FALSE(ini.SectionExists("empty"));
    ini.Parse("");
    EXPECT_TRUE(ini.Sections().empty());
}

TEST(IniFile, WritesInMemoryKeepingOrderAndComments) {
    IniFile ini;
    ini.Parse("; top\n[a]\nx=1\n; about y\ny=2\n\n[b]\nz=3\n");
    ini.WriteString("a", "y", "20");
    ini.WriteString("a", "new", "n");
    ini.WriteInteger("c", "count", -4);
    ini.DeleteKey("b", "z");
    EXPECT_EQ(ini.Text(), "; top\r\n[a]\r\nx=1\r\n; about y\r\ny=20\r\nnew=n\r\n\r\n[b]\r\n[c]\r\ncount=-4\r\n");
    EXPECT_FALSE(ini.SectionExists("b")) << "a section without keys does not count";
    EXPECT_EQ(ini.SectionLines("a"), (std::vector<std::string>{"x=1", "y=20", "new=n"}));
    ini.EraseSection("A");
    EXPECT_FALSE(ini.ValueExists("a", "x"));
}

TEST(IniFile, FileIsReadWholeAndReplacedAtomically) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "calvix.ini";
    {
        IniFile missing(path);
        EXPECT_TRUE(missing.Sections().empty());
        missing.WriteString("s", "k", "v");
        ASSERT_TRUE(missing.UpdateFile());
    }
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "v");
    ini.WriteString("s", "k", "w");
    // A folder that refuses the temporary file leaves the old file as it was.
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0500), 0);
    const bool writableAnyway = ::access(folder.Path().c_str(), W_OK) == 0;  // root ignores modes
    if (!writableAnyway) {
        EXPECT_FALSE(ini.UpdateFile());
        EXPECT_EQ(IniFile(path).ReadString("s", "k", ""), "v");
    }
    ::chmod(folder.Path().c_str(), 0700);
    // A path that is a folder cannot be replaced by a file.
    IniFile folderPath(folder.Path() / "sub");
    std::filesystem::create_directory(folder.Path() / "sub");
    std::filesystem::create_directory(folder.Path() / "sub" / "keep");
    folderPath.WriteString("s", "k", "v");
    EXPECT_FALSE(folderPath.UpdateFile());
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path() / "sub" / "keep"));
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
    EXPECT_FALSE(IniFile().UpdateFile()) << "no path";
}

}  // namespace
