// The УПД road through the real main window: the catalog from an emulated device on a paced
// pseudo-terminal, the download by the shipped "_file.bat" and the real fenlor, the conversion,
// and the reports that follow.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QTextEdit>
#include <filesystem>

#include "emulators/upd_line.h"
#include "gui/unitmainform.h"
#include "gui/upd_flow.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "protocol/tv540v60upd.h"
#include "tests/builder/emulated_data.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/emulated_upd.h"

namespace calvix::testing_gui {
namespace {

constexpr long long kClock = 1733580000;  // 2024-12-07 14:00 UTC

emulators::HcConfig Calculator(std::uint32_t seed) {
    emulators::HcConfig config;
    config.version = 60;
    config.seed = seed;
    config.clockEpoch = kClock;
    config.hourlyRecords = 4;  // a short archive: the download runs at 9600 Bd
    return config;
}

std::string Cp(const char* utf8) {
    return platform::Utf8ToCp1251(utf8);
}

// Three archives; the second has a name of all 16 characters.
std::vector<emulators::UpdArchive> Catalog() {
    return {emulators::MakeUpdArchive(Cp("Котельная 1"), Calculator(11)),
            emulators::MakeUpdArchive(Cp("ЦТП ул.Мира 12-а"), Calculator(12)),
            emulators::MakeUpdArchive("TK-3", Calculator(13))};
}

class UpdFlowTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        const fs::path site = fs::path(CALVIX_SOURCE_DIR) / "site";
        fs::copy_file(site / "calvix.ini", Folder() / "calvix.ini");
        fs::copy_file(site / "_file.bat", Folder() / "_file.bat");
        buildertest::CopyShippedTemplates(Folder());
        fs::create_directories(Folder() / "hc" / "txt");
        fs::copy_file(TOUCH_PROGRAM, Folder() / "touch.exe");
        fs::copy_file(FENLOR_PROGRAM, Folder() / "fenlor");
    }

    bool WaitFor(const char* panel) {
        return WaitUntil([this, panel] { return Visible(panel); });
    }
    bool WaitForEndOfWait() {
        return WaitUntil([this] { return !Visible("panWait"); });
    }
    // The catalog on the screen, as 1251 lines.
    std::vector<std::string> Archives() {
        std::vector<std::string> lines;
        auto* list = Find<QListWidget>("listSelectArchiv");
        for (int row = 0; row < list->count(); ++row) {
            lines.push_back(From1251Widget(list->item(row)->text()));
        }
        return lines;
    }
    void Choose(int row) {
        auto* list = Find<QListWidget>("listSelectArchiv");
        list->setCurrentRow(row);
        Click("btStartSA");
    }
    // The first report of the selection, created and shown.
    std::string FirstReport(TMainForm& form) {
        for (QCheckBox* box : form.ReportCheckBoxes()) {
            box->setChecked(box == form.ReportCheckBoxes().front());
        }
        Click("btStartR");
        EXPECT_TRUE(WaitUntil([this] { return Visible("panText") || Visible("panHCError"); }));
        EXPECT_TRUE(Visible("panText")) << ErrorText();
        return form.Memo()->toPlainText().toStdString();
    }
};

TEST_F(UpdFlowTest, CatalogChoiceDownloadAndReportsAsFromTheCalculatorItself) {
    const std::vector<emulators::UpdArchive> catalog = Catalog();
    testsupport::EmulatedUpd upd(3, catalog);
    TMainForm& form = Start();
    Click("btUPDMode");
    ASSERT_TRUE(WaitFor("panSelectArchiv"));
    EXPECT_EQ(Archives(), (std::vector<std::string>{Cp("1 - Котельная 1"),
                                                    Cp("2 - ЦТП ул.Мира 12-а"), "3 - TK-3"}));
    EXPECT_EQ(Find<QListWidget>("listSelectArchiv")->currentRow(), 2) << "the last one chosen";
    EXPECT_EQ(ReadFile(Folder() / "_katalog"),
              Cp("1 - Котельная 1\r\n2 - ЦТП ул.Мира 12-а\r\n3 - TK-3\r\n"));
    EXPECT_EQ(form.Config()->Connection().portName, "COM3") << "the port the device was found on";

    // Each archive, downloaded and converted, is what the device holds, converted.
    for (int row : {0, 2, 1}) {
        SCOPED_TRACE(row);
        Choose(row);
        ExpectOnly("panWait");
        ASSERT_TRUE(WaitFor("panReport"));
        const emulators::UpdArchive& held = catalog[static_cast<std::size_t>(row)];
        const fs::path expected = Folder() / "expected";
        testsupport::WriteBytes(expected, std::string(held.bytes.begin(), held.bytes.end()));
        protocol::CTV540v60Upd converter;
        ASSERT_TRUE(converter.ConvertDump(expected, form.Config()->Ini()));
        EXPECT_TRUE(ReadFile(Folder() / "dat") == ReadFile(expected));
        if (row != 1) {
            Click("btReturnR");
            ExpectOnly("panSelectArchiv");
        }
    }
    const std::string fromUpd = FirstReport(form);

    // The same device read directly gives the same report.
    const platform::IniFile settings = form.Config()->Ini();
    Stop();
    buildertest::ReadEmulatedVersion60(Calculator(12), Folder(), settings);
    TMainForm& again = Start();
    Click("btTV540Mode");
    again.PanelWidget(Panel::HCWork)->hide();
    again.DataTaken("hc\\dat1hc");
    EXPECT_EQ(FirstReport(again), fromUpd);
    Stop();
    EXPECT_NE(ReadFile(Folder() / "calvix.ini")
                  .find(Cp("[Чтение данных из УПД]\r\nтип=TV540\r\nпорт=COM3\r\n")),
              std::string::npos)
        << "the port the УПД was found on is kept";
}

TEST_F(UpdFlowTest, AbortDuringTheCatalogReturnsToTheModesAndKeepsTheFoundPort) {
    testsupport::EmulatedUpd upd(2, Catalog());
    TMainForm& form = Start();
    Click("btUPDMode");
    Click("btReturnWait");
    ASSERT_TRUE(WaitFor("panHCError"));
    EXPECT_EQ(ErrorText(), "Чтение данных из УПД прервано.");
    Click("btHCError");
    ExpectOnly("panSelectMode");
    EXPECT_FALSE(fs::exists(Folder() / "dat"));
    // Stopped before it reached the device: the configured port stays.
    EXPECT_EQ(form.Config()->Connection().portName, "COM1");
}

TEST_F(UpdFlowTest, AbortDuringTheDownloadLeavesNoDataFile) {
    emulators::HcConfig big = Calculator(11);
    big.hourlyRecords = 240;
    testsupport::EmulatedUpd upd(1, {emulators::MakeUpdArchive("big", big)});
    Start();
    Click("btUPDMode");
    ASSERT_TRUE(WaitFor("panSelectArchiv"));
    Choose(0);
    ASSERT_TRUE(WaitUntil([&] { return upd.Line().Stats().blocksSent > 20; }));
    Click("btReturnWait");
    ASSERT_TRUE(WaitFor("panHCError"));
    EXPECT_EQ(ErrorText(), "Чтение данных из УПД прервано.");
    EXPECT_FALSE(fs::exists(Folder() / "dat"));
    Click("btHCError");
    ExpectOnly("panSelectArchiv");
}

// The window goes (closed, or the program told to stop) while a program of the command list has
// written part of "dat".
TEST_F(UpdFlowTest, TheWindowGoingDuringTheDownloadLeavesNoDataFile) {
    testsupport::EmulatedUpd upd(1, {emulators::MakeUpdArchive("one", Calculator(11))});
    WriteFile(Folder() / "_file.bat", "slow.exe %1\r\n");
    WriteFile(Folder() / "slow", "#!/bin/sh\necho part > dat\nexec sleep 60\n", false);
    fs::permissions(Folder() / "slow", fs::perms::owner_all);
    Start();
    Click("btUPDMode");
    ASSERT_TRUE(WaitFor("panSelectArchiv"));
    Choose(0);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "dat"); }));
    Stop();
    EXPECT_FALSE(fs::exists(Folder() / "dat"));
}

TEST_F(UpdFlowTest, FailuresOfTheRoadAndTheirTexts) {
    struct Case {
        const char* what;
        emulators::UpdFaults faults;
        const char* text;
        const char* back;
    };
    emulators::UpdFaults badBlock;
    badBlock.badBlock = 3;
    emulators::UpdFaults silentMidway;
    silentMidway.silentFromBlock = 4;
    emulators::UpdFaults silent;
    silent.silent = true;
    const Case cases[] = {
        {"damaged block", badBlock, "Ошибка при чтении данных из УПД.\nНе найден файл данных.",
         "panSelectArchiv"},
        {"silent mid-archive", silentMidway,
         "Ошибка при чтении данных из УПД.\nНе найден файл данных.", "panSelectArchiv"},
        {"no device", silent,
         "Ошибка при чтении списка архивов из УПД.\nУПД не подключено или не исправно.",
         "panSelectMode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::EmulatedUpd upd(1, Catalog(), c.faults);
        TMainForm& form = Start();
        Click("btUPDMode");
        ASSERT_TRUE(WaitForEndOfWait());
        if (Visible("panSelectArchiv")) {
            Choose(0);
            ASSERT_TRUE(WaitForEndOfWait());
        }
        ASSERT_TRUE(Visible("panHCError"));
        EXPECT_EQ(ErrorText(), c.text);
        EXPECT_FALSE(fs::exists(Folder() / "dat"));
        Click("btHCError");
        ExpectOnly(c.back);
        if (std::string(c.back) == "panSelectMode") {
            EXPECT_EQ(form.windowTitle(), Q("Программа \"Ведар\"."));
        }
        Stop();
    }
}

// "_file.bat" gets the chosen archive's number and the port the УПД was found on; a list that
// ends well without leaving "dat" is reported as such.
TEST_F(UpdFlowTest, TheChosenNumberAndThePortGoToTheCommandList) {
    std::vector<emulators::UpdArchive> twelve;
    for (int n = 1; n <= 12; ++n) {
        twelve.push_back({"A" + std::to_string(n), std::vector<std::uint8_t>(16, 0)});
    }
    testsupport::EmulatedUpd upd(2, twelve);
    WriteFile(Folder() / "_file.bat", "rem %1 %2\r\nrecord.exe %1 %2\r\n");
    WriteFile(Folder() / "record", "#!/bin/sh\necho \"$@\" > arguments\n", false);
    fs::permissions(Folder() / "record", fs::perms::owner_all);
    Start();
    Click("btUPDMode");
    ASSERT_TRUE(WaitFor("panSelectArchiv"));
    ASSERT_EQ(Archives().back(), "12 - A12");
    Click("btStartSA");
    ASSERT_TRUE(WaitForEndOfWait());
    EXPECT_EQ(ReadFile(Folder() / "arguments"), "12 2\n");
    EXPECT_EQ(ErrorText(), "Ошибка при чтении данных из УПД.\nНе найден файл данных.");
    Click("btHCError");
    ExpectOnly("panSelectArchiv");
}

TEST_F(UpdFlowTest, NoArchiveChosen) {
    testsupport::EmulatedUpd upd(1, Catalog());
    Start();
    Click("btUPDMode");
    ASSERT_TRUE(WaitFor("panSelectArchiv"));
    Find<QListWidget>("listSelectArchiv")->clearSelection();
    Click("btStartSA");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Вы не выбрали ни одного архива.");
    Click("btHCError");
    ExpectOnly("panSelectArchiv");
}

}  // namespace
}  // namespace calvix::testing_gui
