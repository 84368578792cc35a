#include "gui/rules/configuration.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "tests/support/scratch_folder.h"

namespace calvix {
namespace {

// An INI text written in UTF-8 here and stored as 1251, as the program finds it.
Configuration FromText(const testsupport::ScratchFolder& folder, std::string_view utf8) {
    const auto path = folder.Path() / "calvix.ini";
    std::ofstream(path, std::ios::binary) << platform::Utf8ToCp1251(utf8);
    return Configuration(path);
}

std::string U(std::string_view cp1251) {
    return platform::Cp1251ToUtf8(cp1251);
}

TEST(ConfigurationTest, MissingFileGivesEveryDefault) {
    testsupport::ScratchFolder folder;
    Configuration config(folder.Path() / "calvix.ini");
    config.LoadConnectionSettings(WorkState::stHCReports);
    const ConnectionSettings& c = config.Connection();
    EXPECT_EQ(c.abonent, 3);
    EXPECT_EQ(c.deviceType, "");
    EXPECT_EQ(c.portName, "COM1");
    EXPECT_EQ(c.portSpeed, 9600);
    EXPECT_EQ(c.readerProgram, "calvix.exe");
    EXPECT_EQ(c.phoneNumber, "");
    EXPECT_FALSE(c.useModem);
    EXPECT_EQ(c.connectTimeout, 120);
    EXPECT_TRUE(config.VersionTable().empty());
    config.LoadTemplateSettings(60);
    EXPECT_EQ(config.Templates().templateList, "");
    EXPECT_EQ(config.Templates().currentValuesView, 1);
    config.LoadPrinterSettings();
    EXPECT_EQ(config.Printer().leftMargin, 4);
    EXPECT_EQ(config.Printer().topMargin, 2);
    EXPECT_EQ(config.Printer().maxTableRows, 62);
    EXPECT_FALSE(config.Printer().showPrinterDialog);
}

TEST(ConfigurationTest, HeatCalculatorSectionIsReadInStateFourOnly) {
    testsupport::ScratchFolder folder;
    Configuration config = FromText(folder,
                                    "[Чтение данных из TV540]\r\n"
                                    "абонент=0x1F\r\n"
                                    "тип=TV540W\r\n"
                                    "порт=COM3\r\n"
                                    "скорость=abc\r\n"
                                    "номер телефона=8123\r\n"
                                    "чтение данных через модем=да\r\n"
                                    "длительность установления соединения=60\r\n"
                                    "[Определение версии TV540]\r\n"
                                    "302/101/0/30/15=60,53,45\r\n"
                                    "1/2=3\r\n");
    config.LoadConnectionSettings(WorkState::stHCReports);
    EXPECT_EQ(config.Connection().abonent, 31);
    EXPECT_EQ(config.Connection().deviceType, "TV540W");
    EXPECT_EQ(config.Connection().portName, "COM3");
    EXPECT_EQ(config.Connection().portSpeed, 9600) << "not a number gives the default";
    EXPECT_EQ(config.Connection().phoneNumber, "8123");
    EXPECT_TRUE(config.Connection().useModem);
    EXPECT_EQ(config.Connection().connectTimeout, 60);
    EXPECT_EQ(config.VersionTable(),
              (std::vector<std::string>{"302/101/0/30/15=60,53,45", "1/2=3"}));

    // Other states reset the fields and read nothing.
    config.LoadConnectionSettings(WorkState::stArchive);
    EXPECT_EQ(config.Connection().portName, "COM1");
    EXPECT_FALSE(config.Connection().useModem);
}

TEST(ConfigurationTest, OnlyTheExactWordMeansYes) {
    EXPECT_TRUE(IsYes(W1251("да")));
    EXPECT_FALSE(IsYes(W1251("Да")));
    EXPECT_FALSE(IsYes(W1251("да ")));
    EXPECT_FALSE(IsYes("yes"));
    testsupport::ScratchFolder folder;
    Configuration config = FromText(folder,
                                    "[Принтер]\r\nпоказывать диалог выбора принтера=Да\r\n"
                                    "[Чтение данных из TV540]\r\nчтение данных через модем=ДА\r\n");
    config.LoadPrinterSettings();
    EXPECT_FALSE(config.Printer().showPrinterDialog);
    config.LoadConnectionSettings(WorkState::stHCReports);
    EXPECT_FALSE(config.Connection().useModem);
}

TEST(ConfigurationTest, UpdPortFallsBackToComOne) {
    EXPECT_EQ(PortNumberOf("COM5"), 5);
    EXPECT_EQ(PortNumberOf("COM8"), 8);
    EXPECT_EQ(PortNumberOf("COM12"), 1);
    EXPECT_EQ(PortNumberOf("COM0"), 1);
    EXPECT_EQ(PortNumberOf("COMx"), 1);
    EXPECT_EQ(PortNumberOf("COM"), 1);
    EXPECT_EQ(PortNumberOf(""), 1);

    testsupport::ScratchFolder folder;
    Configuration config =
        FromText(folder, "[Чтение данных из УПД]\r\nтип=TV540\r\nпорт=COM12\r\nскорость=4800\r\n");
    config.LoadConnectionSettings(WorkState::stUpdReports);
    EXPECT_EQ(config.Connection().portName, "COM1");
    EXPECT_EQ(config.Connection().portNumber, 1);
    EXPECT_EQ(config.Connection().portSpeed, 4800);
    EXPECT_EQ(config.Connection().deviceType, "TV540");
}

TEST(ConfigurationTest, SavingWritesTheSectionOfTheState) {
    testsupport::ScratchFolder folder;
    Configuration config = FromText(folder, "");
    config.LoadConnectionSettings(WorkState::stHCReports);
    config.Connection().abonent = 7;
    config.Connection().useModem = true;
    config.Connection().phoneNumber = "555";
    config.Connection().portName = "COM2";
    config.Connection().portSpeed = 19200;
    config.Connection().deviceType = "X";
    config.SaveConnectionSettings(WorkState::stHCReports);
    const std::string hc(W1251("Чтение данных из TV540"));
    const auto keys = config.Ini().SectionKeys(hc);
    std::vector<std::string> names;
    for (const std::string& key : keys) {
        names.push_back(U(key));
    }
    EXPECT_EQ(names, (std::vector<std::string>{
                         "абонент", "чтение данных через модем", "номер телефона",
                         "длительность установления соединения", "порт", "скорость"}));
    EXPECT_EQ(U(config.Ini().ReadString(hc, W1251("чтение данных через модем"), "")), "да");
    EXPECT_EQ(config.Ini().ReadString(hc, W1251("скорость"), ""), "19200");

    config.LoadConnectionSettings(WorkState::stUpdReports);
    config.Connection().portName = "COM4";
    config.SaveConnectionSettings(WorkState::stUpdReports);
    EXPECT_EQ(config.Ini().SectionKeys(W1251("Чтение данных из УПД")).size(), 2u);
    EXPECT_EQ(config.Ini().ReadString(W1251("Чтение данных из УПД"), W1251("порт"), ""), "COM4");

    const std::string before = config.Ini().Text();
    config.SaveConnectionSettings(WorkState::stArchive);
    EXPECT_EQ(config.Ini().Text(), before);
}

TEST(ConfigurationTest, DeviceSectionFallsBackToTheTypeAlone) {
    testsupport::ScratchFolder folder;
    Configuration config = FromText(folder,
                                    "[Чтение данных из TV540]\r\nтип=TV540W\r\n"
                                    "[TV540W версия 53]\r\n"
                                    "[TV540W]\r\nсписок шаблонов=Общий\r\nпапка с шаблонами=sbl\r\n"
                                    "[TV540W версия 45]\r\nсписок шаблонов=Сорок пять\r\n"
                                    "вид представления текущих данных=2\r\n");
    config.LoadConnectionSettings(WorkState::stHCReports);
    EXPECT_EQ(U(config.DeviceSectionName("TV540W", 60)), "TV540W");
    EXPECT_EQ(U(config.DeviceSectionName("TV540W", 53)), "TV540W") << "a section without keys";
    EXPECT_EQ(U(config.DeviceSectionName("TV540W", 45)), "TV540W версия 45");
    config.LoadTemplateSettings(60);
    EXPECT_EQ(U(config.Templates().templateList), "Общий");
    EXPECT_EQ(config.Templates().templateFolder, "sbl");
    config.LoadTemplateSettings(45);
    EXPECT_EQ(U(config.Templates().templateList), "Сорок пять");
    EXPECT_EQ(config.Templates().templateFolder, "") << "settings are reset before reading";
    EXPECT_EQ(config.Templates().currentValuesView, 2);
}

TEST(ConfigurationTest, TemplateListSkipsBlankAndDashedNames) {
    testsupport::ScratchFolder folder;
    Configuration config = FromText(folder,
                                    "[Список]\r\n"
                                    "m1=Первый <выбран>\r\n"
                                    "-m2=Отключен\r\n"
                                    " =Пустое имя\r\n"
                                    "m3=Третий\r\n");
    const TemplateList list = config.ReadTemplateList(W1251("Список"));
    EXPECT_EQ(list.templates, (std::vector<std::string>{"m1", "m3"}));
    ASSERT_EQ(list.captions.size(), 2u);
    EXPECT_EQ(U(list.captions[0]), "Первый <выбран>");
    EXPECT_TRUE(config.ReadTemplateList("").templates.empty());
    EXPECT_TRUE(config.ReadTemplateList(W1251("Нет такого")).captions.empty());
}

TEST(ConfigurationTest, MarksAreStrippedAndWrittenBack) {
    bool found = false;
    EXPECT_EQ(U(StripSelectedMark(W1251("А<выбран> Б <выбран>"), &found)), "А Б ");
    EXPECT_TRUE(found);
    EXPECT_EQ(StripSelectedMark("plain", &found), "plain");
    EXPECT_FALSE(found);

    testsupport::ScratchFolder folder;
    Configuration config =
        FromText(folder, "[Список]\r\nm1=Первый <выбран>\r\nm2=Второй\r\nm3=Третий<выбран>\r\n");
    const std::vector<std::string> templates{"m1", "m2", "m3"};
    config.WriteTemplateMarks(W1251("Список"), templates,
                              {{0, false}, {1, true}, {2, true}, {7, true}});
    EXPECT_EQ(U(config.Ini().ReadString(W1251("Список"), "m1", "")), "Первый ");
    EXPECT_EQ(U(config.Ini().ReadString(W1251("Список"), "m2", "")), "Второй<выбран>");
    EXPECT_EQ(U(config.Ini().ReadString(W1251("Список"), "m3", "")), "Третий<выбран>");
    EXPECT_EQ(config.Ini().SectionKeys(W1251("Список")).size(), 3u) << "tag 7 has no template";
}

TEST(ConfigurationTest, PrinterValuesAreClampedToTheirLimits) {
    testsupport::ScratchFolder folder;
    Configuration low = FromText(folder,
                                 "[Принтер]\r\nотступ слева=-5\r\nотступ сверху=21\r\n"
                                 "максимальное количество строк с данными в таблице на одном "
                                 "листе=5\r\nпоказывать диалог выбора принтера=да\r\n");
    low.LoadPrinterSettings();
    EXPECT_EQ(low.Printer().leftMargin, 0);
    EXPECT_EQ(low.Printer().topMargin, 20);
    EXPECT_EQ(low.Printer().maxTableRows, 10);
    EXPECT_TRUE(low.Printer().showPrinterDialog);
    Configuration high = FromText(folder,
                                  "[Принтер]\r\nмаксимальное количество строк с данными в "
                                  "таблице на одном листе=500\r\nотступ слева=x\r\n");
    high.LoadPrinterSettings();
    EXPECT_EQ(high.Printer().maxTableRows, 100);
    EXPECT_EQ(high.Printer().leftMargin, 4);
}

TEST(ConfigurationTest, BrokenFilesGiveDefaults) {
    testsupport::ScratchFolder folder;
    // The same names in UTF-8 are other names to a 1251 reader.
    {
        std::ofstream(folder.Path() / "utf8.ini", std::ios::binary)
            << "[Чтение данных из TV540]\r\nабонент=9\r\n";
        Configuration config(folder.Path() / "utf8.ini");
        config.LoadConnectionSettings(WorkState::stHCReports);
        EXPECT_EQ(config.Connection().abonent, 3);
    }
    // Duplicate sections continue the first; the first of two equal keys wins.
    {
        Configuration config = FromText(folder,
                                        "[Чтение данных из TV540]\r\nабонент=5\r\nабонент=6\r\n"
                                        "[чтение данных из tv540]\r\nпорт=COM2\r\n");
        config.LoadConnectionSettings(WorkState::stHCReports);
        EXPECT_EQ(config.Connection().abonent, 5);
        EXPECT_EQ(config.Connection().portName, "COM2");
    }
    // Binary garbage and a folder in place of the file.
    {
        std::string garbage;
        for (int i = 0; i < 4096; ++i) {
            garbage += static_cast<char>((i * 7919) & 0xFF);
        }
        std::ofstream(folder.Path() / "garbage.ini", std::ios::binary) << garbage;
        Configuration config(folder.Path() / "garbage.ini");
        config.LoadConnectionSettings(WorkState::stHCReports);
        config.LoadPrinterSettings();
        EXPECT_EQ(config.Printer().maxTableRows, 62);
    }
}

// Root reads files whatever their modes; a folder or a FIFO in the file's place cannot be read
// by anyone (the mode-000 case is in the INI file's own tests).
TEST(ConfigurationTest, FileThatExistsButCannotBeReadIsRefused) {
    testsupport::ScratchFolder folder;
    std::filesystem::create_directory(folder.Path() / "dir.ini");
    EXPECT_THROW(Configuration(folder.Path() / "dir.ini"), ConfigurationUnreadable);
    ASSERT_EQ(::mkfifo((folder.Path() / "fifo.ini").c_str(), 0644), 0);
    EXPECT_THROW(Configuration(folder.Path() / "fifo.ini"), ConfigurationUnreadable);
    EXPECT_TRUE(std::filesystem::is_fifo(folder.Path() / "fifo.ini"));
    EXPECT_NO_THROW(Configuration(folder.Path() / "missing.ini"));
}

TEST(ConfigurationTest, BlanksAroundValuesDoNotHideTheDevice) {
    testsupport::ScratchFolder folder;
    Configuration config = FromText(folder,
                                    "[Чтение данных из TV540]\r\n"
                                    "тип = TV540\r\n"
                                    "скорость= 9600\r\n"
                                    "абонент =\t7 \r\n"
                                    "порт = COM2\r\n"
                                    "чтение данных через модем = да\r\n"
                                    "[TV540 версия 60]\r\n"
                                    "список шаблонов = Отчеты\r\n"
                                    "[Отчеты]\r\n"
                                    "m1 = Месячный <выбран>\r\n");
    config.LoadConnectionSettings(WorkState::stHCReports);
    const ConnectionSettings& c = config.Connection();
    EXPECT_EQ(c.deviceType, "TV540");
    EXPECT_EQ(c.portSpeed, 9600);
    EXPECT_EQ(c.abonent, 7);
    EXPECT_EQ(c.portName, "COM2");
    EXPECT_TRUE(c.useModem);
    config.LoadTemplateSettings(60);
    EXPECT_EQ(U(config.Templates().templateList), "Отчеты");
    const TemplateList list = config.ReadTemplateList(config.Templates().templateList);
    EXPECT_EQ(list.templates, std::vector<std::string>{"m1"});
    ASSERT_EQ(list.captions.size(), 1u);
    EXPECT_EQ(U(list.captions[0]), "Месячный <выбран>");
}

TEST(ConfigurationTest, ShippedFileHasTheDeviceSectionsAndLists) {
    const std::string path = std::string(CALVIX_SOURCE_DIR) + "/site/calvix.ini";
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1) << "CR LF line ends";
    EXPECT_NE(bytes.find(W1251("Определение версии TV540")), std::string::npos) << "1251 text";

    Configuration config(path);
    EXPECT_EQ(config.Ini().SectionLines(W1251("Определение версии TV540")),
              (std::vector<std::string>{"302/101/0/30/15=60,53,45"}));
    config.LoadConnectionSettings(WorkState::stHCReports);
    EXPECT_EQ(config.Connection().deviceType, "TV540");
    for (int version : {60, 53, 45}) {
        EXPECT_EQ(U(config.DeviceSectionName("TV540", version)),
                  "TV540 версия " + std::to_string(version));
        config.LoadTemplateSettings(version);
        const TemplateList list = config.ReadTemplateList(config.Templates().templateList);
        EXPECT_FALSE(list.templates.empty()) << version;
        EXPECT_FALSE(
            config.ReadTemplateList(config.Templates().severalDayTemplateList).templates.empty())
            << version;
    }
    EXPECT_EQ(config.Ini().ReadString(W1251("TV540 версия 60"), W1251("кодировка текста"), ""),
              "windows");
    EXPECT_EQ(config.Ini().ReadString(W1251("TV540 версия 45"), W1251("файл конфигурации"), ""),
              "hc\\tv540v45.opr");
}

}  // namespace
}  // namespace calvix
