// Report dates of a data file: the inspection, period names, calendar limits, hourly dates.
#include "gui/rules/report_dates.h"
#include "tests/support/data_records.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "tests/support/scratch_folder.h"

namespace calvix {
namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

constexpr CalendarDate kToday{2031, 7, 14};

bool Same(CalendarDate a, CalendarDate b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}
std::string Show(CalendarDate date) {
    return ShortDate(date);
}

using testsupport::Record;
Bytes Clock(unsigned day, unsigned month, unsigned year) {
    return Record({0xE6, 0, '6', 0x11, 0},
                  Bytes{0x00, 0x30, 0x12, static_cast<char>(day), static_cast<char>(month),
                        static_cast<char>(year)});
}
// Settings field: data byte 14 the version, 17 the reporting day.
Bytes Settings(unsigned version, unsigned reportDay, std::size_t dataLength = 24) {
    Bytes data(dataLength, '\0');
    if (dataLength > 14) {
        data[14] = static_cast<char>(version);
    }
    if (dataLength > 17) {
        data[17] = static_cast<char>(reportDay);
    }
    return Record({0xE6, 0, '=', 0x20, 0}, data);
}
Bytes Number(const Bytes& text) {
    return Record({0xE6, 0, '9', 0x40, 0}, text);
}
Bytes Address(const Bytes& text) {
    return Record({0xE6, 0, ':', 0x40, 0}, text);
}
Bytes Oem(std::string_view text1251) {
    return platform::Cp1251ToCp866(text1251);
}
const Bytes kStart = Record({0xFF, 0x00, 0x35, 0x41, 0x00}, "005-001-001");
const Bytes kStop = Record({0xFF, 0x01, 0x35, 0x41, 0x00}, "005-001-001");

class InspectTest : public ::testing::Test {
  protected:
    DataFileFacts Inspect(const Bytes& content, std::string_view type = "TV540") {
        std::ofstream(file_, std::ios::binary) << content;
        return InspectDataFile(file_, type, kToday);
    }
    testsupport::ScratchFolder folder_;
    fs::path file_ = folder_.Path() / "dat1hc";
};

TEST_F(InspectTest, ReadsTheFourRecordsOfAFile) {
    const DataFileFacts facts =
        Inspect(kStart + Clock(0x05, 0x03, 0x06) + Settings(60, 25) + Number("12345") +
                Address(Oem(W1251("ул. Ленина, 1"))) + kStop);
    EXPECT_TRUE(facts.takeDateValid);
    EXPECT_TRUE(Same(facts.dataTakeDate, {2006, 3, 5})) << Show(facts.dataTakeDate);
    EXPECT_EQ(facts.deviceVersion, 60);
    EXPECT_EQ(facts.reportDay, 25);
    EXPECT_FALSE(facts.deepArchiveMode);
    EXPECT_EQ(facts.deviceNumber, "12345");
    EXPECT_EQ(facts.address, W1251("ул. Ленина, 1"));
    EXPECT_EQ(facts.deviceTitle, W1251("Прибор № 12345, ул. Ленина, 1, "));
}

TEST_F(InspectTest, FilesThatGiveNoDate) {
    struct Case {
        const char* name;
        Bytes content;
    };
    const Case cases[] = {
        {"31 February", Clock(0x31, 0x02, 0x06)},
        {"day not BCD", Clock(0x1A, 0x02, 0x06)},
        {"month not BCD", Clock(0x01, 0xF2, 0x06)},
        {"year not BCD", Clock(0x01, 0x02, 0x0B)},
        {"day zero", Clock(0x00, 0x02, 0x06)},
        {"month 13", Clock(0x01, 0x13, 0x06)},
        {"no clock record", Settings(60, 1)},
        {"clock of 11 bytes", Record({0xE6, 0, '6', 0x11, 0}, Bytes(5, '\x01'))},
        {"clock cut off by the end", Clock(0x05, 0x03, 0x06).substr(0, 12)},
        {"empty file", ""},
    };
    for (const Case& c : cases) {
        const DataFileFacts facts = Inspect(c.content);
        EXPECT_FALSE(facts.takeDateValid) << c.name;
        EXPECT_TRUE(Same(facts.dataTakeDate, kToday)) << c.name;
        for (const PeriodLabel& pair : MakePeriodLabels(facts)) {
            EXPECT_EQ(pair.replacement, "") << c.name;
        }
    }
}

TEST_F(InspectTest, InvalidDateLeavesEveryCaptionAsItIs) {
    const DataFileFacts facts = Inspect(Clock(0x31, 0x02, 0x06));
    const std::string caption(W1251("Отчет за отчетный месяц (месяц), текущий год"));
    EXPECT_EQ(ApplyPeriodLabels(caption, MakePeriodLabels(facts)), caption);
}

TEST_F(InspectTest, FilesThatCannotBeOpenedKeepTheDefaults) {
    fs::create_directory(folder_.Path() / "folder");
    for (const fs::path& path : {folder_.Path() / "missing", folder_.Path() / "folder"}) {
        const DataFileFacts facts = InspectDataFile(path, "TV540W", kToday);
        EXPECT_FALSE(facts.takeDateValid) << path;
        EXPECT_TRUE(Same(facts.dataTakeDate, kToday)) << path;
        EXPECT_EQ(facts.deviceNumber, "") << path;
        EXPECT_EQ(facts.address, "") << path;
        EXPECT_EQ(facts.deviceTitle, "") << path;
        EXPECT_EQ(facts.deviceVersion, 0) << path;
        EXPECT_EQ(facts.reportDay, 0) << path;
        EXPECT_FALSE(facts.deepArchiveMode) << path;
    }
}

TEST_F(InspectTest, AnOpenedFileWithoutTextsNamesThemUndefined) {
    const DataFileFacts facts = Inspect(kStart + Number(Bytes("\0\x31", 2)) + kStop);
    EXPECT_EQ(facts.deviceNumber, W1251("не определен"));
    EXPECT_EQ(facts.address, W1251("не определен"));
    EXPECT_EQ(facts.deviceTitle, W1251("Прибор № не определен, не определен, "));
}

TEST_F(InspectTest, DeviceTexts) {
    struct Case {
        Bytes number;
        std::string expected;
    };
    const Case cases[] = {
        {"12\xFF"
         "34",
         "1234"},
        {"\xFF\xFF"
         "7",
         "7"},
        {Bytes("12\0"
               "34",
               5),
         "12"},
        {"123456789A", "12345678"},
        {Oem(W1251("Ж-1")), std::string(W1251("Ж-1"))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Inspect(Number(c.number)).deviceNumber, c.expected) << c.number;
    }
    const Bytes longAddress(40, 'a');
    EXPECT_EQ(Inspect(Address(longAddress)).address, Bytes(26, 'a'));
    EXPECT_EQ(Inspect(Address("\xFF"
                              "b\xFF"))
                  .address,
              "b");
}

TEST_F(InspectTest, SettingsRecord) {
    struct Case {
        const char* type;
        unsigned version;
        std::size_t dataLength;
        bool deep;
        int reportDay;
    };
    const Case cases[] = {
        {"TV540W", 0x35, 24, true, 9},  {"TV540F", 0x35, 24, true, 9},
        {"TV540", 0x35, 24, false, 9},  {"TV540W", 60, 24, false, 9},
        {"tv540w", 0x35, 24, false, 9}, {"TV540W", 0x35, 18, true, 9},
        {"TV540W", 0x35, 17, true, 0},  {"TV540W", 0x35, 15, true, 0},
    };
    for (const Case& c : cases) {
        const DataFileFacts facts = Inspect(Settings(c.version, 9, c.dataLength), c.type);
        EXPECT_EQ(facts.deviceVersion, static_cast<int>(c.version)) << c.type << c.dataLength;
        EXPECT_EQ(facts.deepArchiveMode, c.deep) << c.type << " " << c.version;
        EXPECT_EQ(facts.reportDay, c.reportDay) << c.type << " " << c.dataLength;
    }
    // 14 data bytes hold no version byte.
    EXPECT_EQ(Inspect(Settings(60, 9, 14)).deviceVersion, 0);
}

TEST_F(InspectTest, OnlyTheFirstRecordOfEachKindCounts) {
    const DataFileFacts facts =
        Inspect(Record({0xE6, 0, '6', 0x11, 0}, Bytes(5, '\x01')) + Clock(0x10, 0x01, 0x07) +
                Clock(0x11, 0x01, 0x07) + Settings(53, 1) + Settings(60, 2) + Number("1") +
                Number("2") + Address("A") + Address("B"));
    EXPECT_TRUE(Same(facts.dataTakeDate, {2007, 1, 10})) << Show(facts.dataTakeDate);
    EXPECT_EQ(facts.deviceVersion, 53);
    EXPECT_EQ(facts.reportDay, 1);
    EXPECT_EQ(facts.deviceTitle, W1251("Прибор № 1, A, "));
}

TEST_F(InspectTest, RecordsOfOtherGroupsAreSkipped) {
    Bytes otherTagLength = Settings(61, 3);
    otherTagLength[2] = '\x04';
    const DataFileFacts facts =
        Inspect(Record({0xE6, 0x01, '=', 0x26, 0}, Bytes(24, '\x07')) +
                Record({0xE5, 0, '9', 0, 0}, "X") + otherTagLength +
                Record({0xE6, 0, '7', 0, 0}, Bytes(30, '\x01')) + Settings(60, 4) + Number("N"));
    EXPECT_EQ(facts.deviceVersion, 60);
    EXPECT_EQ(facts.reportDay, 4);
    EXPECT_EQ(facts.deviceNumber, "N");
}

TEST_F(InspectTest, LongPayloadsAreSkippedWhole) {
    // 600 and 512 data bytes: the records after them start where their lengths say.
    Bytes longNumber(600, '7');
    const Bytes exactlyTwoWindows(512 - 6, 'x');
    const DataFileFacts facts =
        Inspect(kStart + Number(longNumber) + Record({0x0B, 0, 0x24, 0x29, 0}, exactlyTwoWindows) +
                Settings(60, 5, 300) + Clock(0x28, 0x02, 0x08) + Address("a"));
    EXPECT_EQ(facts.deviceNumber, "77777777");
    EXPECT_EQ(facts.deviceVersion, 60);
    EXPECT_EQ(facts.reportDay, 5);
    EXPECT_TRUE(Same(facts.dataTakeDate, {2008, 2, 28})) << Show(facts.dataTakeDate);
    EXPECT_EQ(facts.address, "a");
}

TEST_F(InspectTest, ALengthPastTheEndKeepsWhatWasFound) {
    const Bytes cut = Address("far away");
    const DataFileFacts facts =
        Inspect(Clock(0x05, 0x03, 0x06) + Number("42") + cut.substr(0, cut.size() - 1));
    EXPECT_TRUE(facts.takeDateValid);
    EXPECT_EQ(facts.deviceNumber, "42");
    EXPECT_EQ(facts.address, W1251("не определен"));

    Bytes longCut = Number(Bytes(700, '5'));
    longCut.resize(400);
    const DataFileFacts second = Inspect(Clock(0x05, 0x03, 0x06) + longCut);
    EXPECT_TRUE(second.takeDateValid);
    EXPECT_EQ(second.deviceNumber, W1251("не определен"));
}

TEST(PeriodLabelsTest, Replacements) {
    struct Case {
        CalendarDate take;
        std::array<std::string_view, 7> expected;
    };
    const Case cases[] = {
        {{2006, 3, 5},
         {W1251("5 марта 2006 г"), W1251("4 марта 2006 г"), W1251("март 2006 г"),
          W1251("февраль 2006 г"), W1251("отчетный месяц (февраль 2006 г)"), W1251("2006 г"),
          W1251("2005 г")}},
        {{2007, 1, 10},
         {W1251("10 января 2007 г"), W1251("9 января 2007 г"), W1251("январь 2007 г"),
          W1251("декабрь 2006 г"), W1251("отчетный месяц (декабрь 2006 г)"), W1251("2007 г"),
          W1251("2006 г")}},
        {{2008, 3, 1},
         {W1251("1 марта 2008 г"), W1251("29 февраля 2008 г"), W1251("март 2008 г"),
          W1251("февраль 2008 г"), W1251("отчетный месяц (февраль 2008 г)"), W1251("2008 г"),
          W1251("2007 г")}},
        {{2007, 1, 1},
         {W1251("1 января 2007 г"), W1251("31 декабря 2006 г"), W1251("январь 2007 г"),
          W1251("декабрь 2006 г"), W1251("отчетный месяц (декабрь 2006 г)"), W1251("2007 г"),
          W1251("2006 г")}},
    };
    for (const Case& c : cases) {
        DataFileFacts facts;
        facts.takeDateValid = true;
        facts.dataTakeDate = c.take;
        const PeriodLabels labels = MakePeriodLabels(facts);
        for (std::size_t i = 0; i < labels.size(); ++i) {
            EXPECT_EQ(labels[i].replacement, c.expected[i]) << Show(c.take) << " pair " << i + 1;
        }
    }
}

TEST(PeriodLabelsTest, Captions) {
    DataFileFacts facts;
    facts.takeDateValid = true;
    facts.dataTakeDate = {2006, 3, 5};
    const PeriodLabels labels = MakePeriodLabels(facts);
    const std::string_view cases[][2] = {
        {W1251("Теплоучет за отчетный месяц (месяц)"),
         W1251("Теплоучет за отчетный месяц (февраль 2006 г)")},
        {W1251("прошлый месяц и прошлый месяц"), W1251("февраль 2006 г и февраль 2006 г")},
        {W1251("текущий день/прошлый день"), W1251("5 марта 2006 г/4 марта 2006 г")},
        {W1251("текущий месяц, текущий год, прошлый год"), W1251("март 2006 г, 2006 г, 2005 г")},
        {W1251("Текущий год"), W1251("Текущий год")},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ApplyPeriodLabels(std::string(c[0]), labels), c[1]) << c[0];
    }
    EXPECT_EQ(ApplyPeriodLabels("\xFF" + std::string(W1251("текущий год")), labels),
              " \xFF" + std::string(W1251("2006 г")));
    EXPECT_EQ(ApplyPeriodLabels("\xFF", MakePeriodLabels(DataFileFacts{})), " \xFF");
}

TEST(CalendarLimitsTest, Ranges) {
    struct Case {
        CalendarDate take;
        bool deep;
        CalendarDate lowest;
        CalendarDate highest;
    };
    const Case cases[] = {
        {{2007, 1, 10}, false, {2006, 12, 1}, {2007, 1, 31}},
        {{2008, 2, 15}, false, {2008, 1, 1}, {2008, 2, 29}},
        {{2006, 3, 31}, false, {2006, 2, 1}, {2006, 3, 31}},
        {{2006, 6, 30}, true, {2006, 1, 2}, {2006, 6, 30}},
        {{2008, 3, 1}, true, {2007, 9, 4}, {2008, 3, 1}},
    };
    for (const Case& c : cases) {
        const CalendarLimits limits = MakeCalendarLimits(c.take, c.deep);
        EXPECT_TRUE(Same(limits.lowest, c.lowest)) << Show(c.take) << " " << Show(limits.lowest);
        EXPECT_TRUE(Same(limits.highest, c.highest)) << Show(c.take) << " " << Show(limits.highest);
    }
}

std::vector<std::string> Texts(const std::vector<DateListEntry>& list) {
    std::vector<std::string> texts;
    for (const DateListEntry& entry : list) {
        texts.push_back(entry.text);
    }
    return texts;
}

TEST(HourlyDatesTest, ADateIsListedOnceAtTheEnd) {
    std::vector<DateListEntry> list;
    AddHourlyDate(list, {2006, 3, 5});
    AddHourlyDate(list, {2006, 3, 5});
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"05.03.2006"}));
    AddHourlyDate(list, {2006, 3, 17});
    list[1].selected = true;
    AddHourlyDate(list, {2006, 3, 5});
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"17.03.2006", "05.03.2006"}));
    EXPECT_TRUE(list[0].selected);
    EXPECT_FALSE(list[1].selected);
}

TEST(HourlyDatesTest, RemovesTheSelectedEntries) {
    std::vector<DateListEntry> list{
        {"01.03.2006", false}, {"02.03.2006", true}, {"03.03.2006", true}, {"04.03.2006", false}};
    RemoveSelectedDates(list);
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"01.03.2006", "04.03.2006"}));
    RemoveSelectedDates(list);
    EXPECT_EQ(list.size(), 2u);
}

}  // namespace
}  // namespace calvix
