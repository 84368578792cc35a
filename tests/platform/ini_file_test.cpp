#include "platform/ini_file.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "platform/cp1251_literal.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::FileRead;
using platform::IniFile;

std::string W(std::string_view text1251) {
    return std::string(text1251);
}

void Write(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

enum class Outcome { kHeld, kFailed, kNoOrdinaryUser };

// Runs `check` as an ordinary user. Root reads and writes files whatever their modes, so when
// the tests run as root the check runs in a child that has given root up.
Outcome AsOrdinaryUser(const std::function<bool()>& check) {
    if (::geteuid() != 0) {
        return check() ? Outcome::kHeld : Outcome::kFailed;
    }
    constexpr int kCannotDrop = 77;
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(!dropped ? kCannotDrop : check() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return Outcome::kFailed;
    }
    switch (WEXITSTATUS(status)) {
        case 0:
            return Outcome::kHeld;
        case kCannotDrop:
            return Outcome::kNoOrdinaryUser;
        default:
            return Outcome::kFailed;
    }
}

// Fails the test when the check does not hold; skips it where root cannot be given up.
#define EXPECT_AS_ORDINARY_USER(check)                                            \
    do {                                                                          \
        const Outcome outcome = AsOrdinaryUser(check);                            \
        if (outcome == Outcome::kNoOrdinaryUser) {                                \
            GTEST_SKIP() << "running as root and cannot become an ordinary user"; \
        }                                                                         \
        EXPECT_EQ(outcome, Outcome::kHeld);                                       \
    } while (false)

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(IniFile, ReadsRussianSectionsAndKeysWithSpaces) {
    IniFile ini;
    ini.Parse(
        W(W1251("[Чтение данных из TV540]\r\nабонент=5\r\nномер телефона= 8 800\r\n"
                "; comment\r\n[Принтер]\r\nотступ слева=0x0A\r\n")));
    EXPECT_EQ(ini.ReadInteger(W1251("Чтение данных из TV540"), W1251("абонент"), 3), 5);
    EXPECT_EQ(ini.ReadString(W1251("Чтение данных из TV540"), W1251("номер телефона"), ""),
              "8 800");
    EXPECT_EQ(ini.ReadInteger(W1251("Принтер"), W1251("отступ слева"), 4), 10);
    // Names compare without regard to case, Cyrillic included.
    EXPECT_EQ(ini.ReadInteger(W1251("ЧТЕНИЕ ДАННЫХ ИЗ tv540"), W1251("АБОНЕНТ"), 3), 5);
    EXPECT_EQ(ini.Sections(),
              (std::vector<std::string>{W(W1251("Чтение данных из TV540")), W(W1251("Принтер"))}));
    EXPECT_EQ(ini.SectionKeys(W1251("Чтение данных из TV540")),
              (std::vector<std::string>{W(W1251("абонент")), W(W1251("номер телефона"))}));
}

TEST(IniFile, ValuesAreTrimmedOfBlanksAtBothEnds) {
    IniFile ini;
    ini.Parse(
        W(W1251("[s]\r\nтип = TV540\r\nскорость= 9600\r\n\tпорт\t=\tCOM2 \t\r\n"
                "пусто =  \r\nвнутри = a  b\n")));
    EXPECT_EQ(ini.ReadString("s", W1251("тип"), ""), "TV540");
    EXPECT_EQ(ini.ReadInteger("s", W1251("скорость"), 1), 9600);
    EXPECT_EQ(ini.ReadString("s", W1251("порт"), ""), "COM2");
    EXPECT_EQ(ini.ReadString("s", W1251("пусто"), "x"), "");
    EXPECT_EQ(ini.ReadString("s", W1251("внутри"), ""), "a  b") << "blanks inside stay";
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
    EXPECT_EQ(
        ini.Text(),
        "; top\r\n[a]\r\nx=1\r\n; about y\r\ny=20\r\nnew=n\r\n\r\n[b]\r\n[c]\r\ncount=-4\r\n");
    EXPECT_FALSE(ini.SectionExists("b")) << "a section without keys does not count";
    EXPECT_EQ(ini.SectionLines("a"), (std::vector<std::string>{"x=1", "y=20", "new=n"}));
    ini.EraseSection("A");
    EXPECT_FALSE(ini.ValueExists("a", "x"));
}

TEST(IniFile, FileIsReadWholeAndReplacedAtomically) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "calvix.ini";
    {
        IniFile missing;
        EXPECT_EQ(missing.Load(path), FileRead::kMissing);
        EXPECT_TRUE(missing.Sections().empty());
        missing.WriteString("s", "k", "v");
        ASSERT_TRUE(missing.UpdateFile());
    }
    IniFile ini;
    EXPECT_EQ(ini.Load(path), FileRead::kRead);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "v");
    ini.WriteString("s", "k", "w");
    // A folder that refuses the temporary file leaves the old file as it was.
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0555), 0);
    EXPECT_AS_ORDINARY_USER([&] { return !ini.UpdateFile(); });
    ::chmod(folder.Path().c_str(), 0700);
    EXPECT_EQ(Read(path), "[s]\r\nk=v\r\n");
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
    EXPECT_FALSE(IniFile().UpdateFile()) << "no path";
}

// Root reads a file of mode 000, so that case runs as an ordinary user; a folder, a FIFO and a
// loop of links cannot be read by anyone.
TEST(IniFile, FileThatExistsButCannotBeReadIsNeverWrittenOver) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> make;
        FileRead expected;
        bool asOrdinaryUser = false;
    };
    const Case cases[] = {
        {"folder", [](const fs::path& p) { fs::create_directory(p); }, FileRead::kUnreadable},
        {"fifo", [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); }, FileRead::kNotRegular},
        {"link loop",
         [](const fs::path& p) {
             fs::create_symlink("other", p);
             fs::create_symlink(p.filename(), p.parent_path() / "other");
         },
         FileRead::kUnreadable},
        {"mode 000",
         [](const fs::path& p) {
             Write(p, "[s]\r\nk=v\r\n");
             ::chmod(p.c_str(), 0);
         },
         FileRead::kUnreadable, true},
    };
    for (const Case& c : cases) {
        testsupport::ScratchFolder folder;
        ::chmod(folder.Path().c_str(), 0777);  // the write would get through but for the check
        const auto path = folder.Path() / "calvix.ini";
        c.make(path);
        const fs::file_status before = fs::symlink_status(path);
        SCOPED_TRACE(c.what);
        const auto refused = [&] {
            IniFile ini;
            const bool loadRefused = ini.Load(path) == c.expected && ini.Path().empty();
            ini.WriteString("s", "k", "new");
            return loadRefused && ini.Sections().size() == 1 && !ini.UpdateFile();
        };
        if (c.asOrdinaryUser) {
            EXPECT_AS_ORDINARY_USER(refused);
        } else {
            EXPECT_TRUE(refused());
        }
        EXPECT_EQ(fs::symlink_status(path).type(), before.type());
    }
}

TEST(IniFile, ReadOnlyFileIsRefusedAndKept) {
    testsupport::ScratchFolder folder;
    ::chmod(folder.Path().c_str(), 0777);  // the folder would take a rename
    const auto path = folder.Path() / "calvix.ini";
    Write(path, "[s]\r\nk=v\r\n");
    ::chmod(path.c_str(), 0444);
    EXPECT_AS_ORDINARY_USER([&] {
        IniFile ini;
        if (ini.Load(path) != FileRead::kRead) {
            return false;
        }
        ini.WriteString("s", "k", "w");
        return !ini.UpdateFile();
    });
    EXPECT_EQ(Read(path), "[s]\r\nk=v\r\n");
    EXPECT_EQ(ModeOf(path), 0444u);
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        EXPECT_EQ(entry.path().filename(), "calvix.ini");
    }
}

TEST(IniFile, WriteKeepsPermissionsAndOwner) {
    testsupport::ScratchFolder folder;
    const auto path = folder.Path() / "calvix.ini";
    Write(path, "[s]\r\nk=v\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    IniFile ini;
    ASSERT_EQ(ini.Load(path), FileRead::kRead);
    ini.WriteString("s", "k", "w");
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(Read(path), "[s]\r\nk=w\r\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    if (root) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
}

TEST(IniFile, WriteGoesThroughSymbolicLinksWhichStayLinks) {
    testsupport::ScratchFolder folder;
    fs::create_directory(folder.Path() / "real");
    const auto target = folder.Path() / "real" / "config.ini";
    Write(target, "[s]\r\nk=v\r\n");
    const auto link = folder.Path() / "calvix.ini";
    fs::create_symlink("real/config.ini", link);        // relative to the link's folder
    fs::create_symlink(link, folder.Path() / "chain");  // a link to the link
    IniFile ini;
    ASSERT_EQ(ini.Load(folder.Path() / "chain"), FileRead::kRead);
    EXPECT_EQ(ini.ReadString("s", "k", ""), "v");
    ini.WriteString("s", "k", "w");
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(folder.Path() / "chain"));
    EXPECT_EQ(Read(target), "[s]\r\nk=w\r\n");
    EXPECT_EQ(fs::directory_iterator(folder.Path() / "real")->path(), target) << "no leftovers";

    // A link whose target is still missing is an empty configuration; the write creates it.
    const auto dangling = folder.Path() / "new.ini";
    fs::create_symlink("real/later.ini", dangling);
    IniFile fresh;
    ASSERT_EQ(fresh.Load(dangling), FileRead::kMissing);
    fresh.WriteString("a", "b", "c");
    ASSERT_TRUE(fresh.UpdateFile());
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(Read(folder.Path() / "real" / "later.ini"), "[a]\r\nb=c\r\n");
}

}  // namespace
