// The parameter lists that site/calvix.ini names for versions 45 and 53, read by the real quellar
// from the emulated devices, and the shipped templates built by the real builder on the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "platform/cp1251_literal.h"
#include "platform/ini_file.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::FileText;
using testsupport::Process;

// Records of a data file by tag (the five bytes after the tag-length byte).
std::multimap<std::string, std::string> Records(const std::string& data) {
    std::multimap<std::string, std::string> records;
    std::size_t pos = 0;
    while (pos + 8 <= data.size()) {
        const std::size_t length =
            static_cast<unsigned char>(data[pos]) << 8 | static_cast<unsigned char>(data[pos + 1]);
        records.emplace(data.substr(pos + 3, 5), data.substr(pos + 8, length - 6));
        pos += 2 + length;
    }
    return records;
}

std::string Tag(std::initializer_list<int> bytes) {
    std::string tag;
    for (int b : bytes) {
        tag.push_back(static_cast<char>(b));
    }
    return tag;
}

struct ListCase {
    int version;
    std::string_view key;  // 1251 key of the device section
    int days;              // daily records 0B n 24 29 00 the list stores
    int months;            // monthly records 0C n 24 29 00
};

class ShippedList : public ::testing::TestWithParam<ListCase> {
  protected:
    // The list that the device section names, as a path into site/.
    fs::path ListPath(const ListCase& c) const {
        platform::IniFile ini;
        ini.Load(fs::path(CALVIX_SOURCE_DIR) / "site" / "calvix.ini");
        const std::string section = std::string(W1251("TV540 версия ")) + std::to_string(c.version);
        std::string name = ini.ReadString(section, c.key, "");
        std::replace(name.begin(), name.end(), '\\', '/');
        return name.empty() ? fs::path() : fs::path(CALVIX_SOURCE_DIR) / "site" / name;
    }

    // Reads the emulated device of `version` through `list`; true when quellar succeeded.
    bool Read(int version, const fs::path& list, bool hourly) {
        const fs::path link = Folder() / "COM2";
        emulator_ = std::make_unique<Process>(
            std::vector<std::string>{DEVEMU_PATH, "hc", "--version", std::to_string(version),
                                     "--address", "4", "--hours", "24", "--clock",
                                     "2024-12-07 14:00:00", "--link", link.string()},
            Folder() / "devemu.out");
        if (!testsupport::WaitFor([&] { return fs::exists(link); }, 20s)) {
            return false;
        }
        Process quellar({QUELLAR_PATH, "2", "9600", hourly ? "1" : "0", "200", "4", list.string(),
                         (Folder() / "hc" / "dat1hc").string()},
                        Folder() / "quellar.out", {"CALVIX_COM2=" + link.string()}, Folder());
        return quellar.Wait(240s) == 0;
    }

    // Builds template `name` from "hc\dat1hc" as the workstation starts the builder.
    std::string Build(const std::string& name) {
        Process touch({TOUCH_PATH, "1", "3", "sbl\\" + name + ".sbl", "hc\\dat1hc",
                       "hc\\txt\\" + name + ".txt"},
                      Folder() / "touch.out", {}, Folder());
        EXPECT_EQ(touch.Wait(60s), 0) << FileText(Folder() / "touch.out.err");
        return FileText(Folder() / "hc" / "txt" / (name + ".txt"));
    }

    // Every template of the device's list has a row with numbers for each day it covers.
    void ExpectReportsWithNumbers() {
        // Clock 7 December 2024, reporting day 1: November, 30 days; the current month 6.
        const std::map<std::string, long> rows{
            {"month_tw", 30}, {"prev_tw", 30}, {"cur_tw", 6}, {"day_tw", 1}, {"temp_tw", 30}};
        const std::regex day(R"(\|  [0-9]+ *\| *[0-9]+\.[0-9] *\| *[0-9]+\.[0-9]+)");
        for (const auto& [name, count] : rows) {
            const std::string report = Build(name);
            EXPECT_EQ(std::distance(std::sregex_iterator(report.begin(), report.end(), day),
                                    std::sregex_iterator()),
                      count)
                << name << "\n"
                << report;
            if (name != "cur_tw") {  // the rest of December is still to come
                EXPECT_FALSE(std::regex_search(report, std::regex(R"(\| *---\|)"))) << name;
            }
        }
    }

    fs::path Folder() {
        if (!fs::exists(folder_.Path() / "sbl")) {
            fs::create_directories(folder_.Path() / "hc" / "txt");
            fs::copy(fs::path(CALVIX_SOURCE_DIR) / "site" / "sbl", folder_.Path() / "sbl");
        }
        return folder_.Path();
    }

    testsupport::ScratchFolder folder_;
    std::unique_ptr<Process> emulator_;
};

TEST_P(ShippedList, ReadsWhatTheReportsNeed) {
    const ListCase c = GetParam();
    const fs::path list = ListPath(c);
    ASSERT_FALSE(list.empty());
    ASSERT_TRUE(fs::exists(list)) << list;
    const std::string name = list.filename().string();
    ASSERT_NE(name, "tv540wi.opr") << "the hourly archive is refused with this name";
    ASSERT_NE(name, "tv540wi_o.opr") << "the hourly archive is refused with this name";
    ASSERT_TRUE(Read(c.version, list, true)) << FileText(Folder() / "quellar.out");

    const auto records = Records(FileText(Folder() / "hc" / "dat1hc"));
    ASSERT_EQ(records.count(Tag({0xE6, 0, 0x36, 0x11, 0})), 1u) << "clock";
    ASSERT_EQ(records.count(Tag({0xE6, 0, 0x39, 0x40, 0})), 1u) << "device number";
    ASSERT_EQ(records.count(Tag({0xE6, 0, 0x3A, 0x40, 0})), 1u) << "address";
    const auto settings = records.find(Tag({0xE6, 0, 0x3D, 0x20, 0}));
    ASSERT_NE(settings, records.end());
    ASSERT_GT(settings->second.size(), 17u);
    EXPECT_EQ(static_cast<unsigned char>(settings->second[14]), c.version);
    int days = 0, months = 0, hours = 0;
    for (const auto& [tag, data] : records) {
        days += tag[0] == 0x0B && tag[2] == 0x24 ? 1 : 0;
        months += tag[0] == 0x0C && tag[2] == 0x24 ? 1 : 0;
        hours += tag[0] == 0x09 ? 1 : 0;
    }
    EXPECT_EQ(days, c.days);
    EXPECT_EQ(months, c.months);
    EXPECT_EQ(hours, 24) << "the hourly archive before the stop line";
    if (c.days > 0) {
        ExpectReportsWithNumbers();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ShippedList,
    ::testing::Values(ListCase{45, W1251("файл конфигурации"), 62, 24},
                      ListCase{45, W1251("файл конфигурации, только отчетный период"), 62, 0},
                      ListCase{53, W1251("файл конфигурации"), 62, 24},
                      ListCase{53, W1251("файл конфигурации, только отчетный период"), 62, 24}));

}  // namespace
