// The heat-calculator window through the real main window: the settings dialog and the address
// search against emulated heat calculators on a paced pseudo-terminal.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "emulators/hc_values.h"
#include "platform/cp1251_literal.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/emulated_port.h"

namespace calvix::testing_gui {
namespace {

constexpr const char* kSection = "Чтение данных из TV540";

class HcWorkTest : public GuiTest {
  protected:
    // The window of the heat calculator with the connection of `ini` (UTF-8 lines).
    TMainForm& OpenHCWork(const char* ini = "порт=COM5\r\nскорость=9600\r\n") {
        WriteFile(Folder() / "calvix.ini", std::string("[") + kSection + "]\r\n" + ini);
        TMainForm& form = Start();
        Click("btTV540Mode");
        ExpectOnly("panHCWork");
        return form;
    }

    void OpenSearch() {
        Click("btHCAutoSearch");
        ExpectOnly("panHCAutoSearch");
    }

    void Search(const char* begin, const char* end, bool net = false) {
        Find<QLineEdit>("edHCBegin")->setText(Q(begin));
        Find<QLineEdit>("edHCEnd")->setText(Q(end));
        Find<QCheckBox>("cbHCNet")->setChecked(net);
        Click("btHCStartSearch");
    }

    bool Enabled(const char* name) { return Find(name)->isEnabled(); }
    bool Idle() { return Enabled("btHCStartSearch") && !Enabled("btHCStopSearch"); }
    QString Text(const char* name) { return Find<QLabel>(name)->text(); }
    std::vector<std::string> Listed() {
        std::vector<std::string> items;
        auto* list = Find<QListWidget>("lbHCFinded");
        for (int i = 0; i < list->count(); ++i) {
            items.push_back(list->item(i)->text().toStdString());
        }
        return items;
    }
    std::string ErrorCaption() {
        return static_cast<CaptionPanel*>(form_->PanelWidget(Panel::HCError))->Caption();
    }
    std::string IniValue(const char* key) {
        return form_->Config()->Ini().ReadString(platform::Utf8ToCp1251(kSection),
                                                 platform::Utf8ToCp1251(key), "-");
    }
};

std::string Entry(int address, std::uint32_t seed) {
    return std::to_string(address) + " - " + emulators::FactoryNumber(seed).substr(0, 4);
}

emulators::HcConfig At(std::uint8_t address, std::uint32_t seed) {
    emulators::HcConfig config = testsupport::Device(address);
    config.seed = seed;
    return config;
}

// ---------------------------------------------------------------------------------------------
// The settings dialog.

struct Refusal {
    const char* name;
    const char* port;
    const char* speed;
    bool modem;
    const char* phone;
};

class HcSettingsRefusalTest : public HcWorkTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(HcSettingsRefusalTest, LeavesTheDialogOpenAndTheSettingsAsTheyWere) {
    const Refusal& r = GetParam();
    TMainForm& form = OpenHCWork();
    Click("btHCConfig");
    ExpectOnly("panHCConfig");
    Find<QComboBox>("cbHCComPort")->setCurrentText(Q(r.port));
    Find<QComboBox>("cbHCPortSpeed")->setCurrentText(Q(r.speed));
    Find<QCheckBox>("cbUseModem")->setChecked(r.modem);
    Find<QLineEdit>("edPhoneNumber")->setText(Q(r.phone));
    Click("btHCParamOK");
    ExpectOnly("panHCConfig");
    EXPECT_EQ(form.Config()->Connection().portName, "COM5");
    EXPECT_EQ(form.Config()->Connection().portSpeed, 9600);
    EXPECT_FALSE(form.Config()->Connection().useModem);
}

INSTANTIATE_TEST_SUITE_P(Dialog, HcSettingsRefusalTest,
                         ::testing::Values(Refusal{"EmptyPort", "", "9600", false, ""},
                                           Refusal{"EmptySpeed", "COM2", "", false, ""},
                                           Refusal{"SpeedTooLow", "COM2", "300", false, ""},
                                           Refusal{"SpeedTooHigh", "COM2", "230400", false, ""},
                                           Refusal{"SpeedNotANumber", "COM2", "96OO", false, ""},
                                           Refusal{"ModemWithoutPhone", "COM2", "9600", true, ""}),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(HcWorkTest, SettingsDialogShowsTheCurrentSettingsAndTakesOverAChange) {
    TMainForm& form = OpenHCWork("порт=COM5\r\nскорость=38400\r\nабонент=12\r\n");
    EXPECT_TRUE(Enabled("btHCConfig"));
    Find<QLineEdit>("edHCNumber")->setText(Q("7"));
    Click("btHCConfig");
    ExpectOnly("panHCConfig");
    EXPECT_EQ(Find<QComboBox>("cbHCComPort")->currentText(), Q("COM5"));
    EXPECT_EQ(Find<QComboBox>("cbHCPortSpeed")->currentText(), Q("38400"));
    EXPECT_EQ(Find<QComboBox>("cbHCPortSpeed")->count(), 8);
    EXPECT_FALSE(Find<QCheckBox>("cbUseModem")->isChecked());
    EXPECT_EQ(Find<QCheckBox>("cbUseModem")->text(), Q("Чтение данных через модем"));
    EXPECT_EQ(Text("lbHCComPortCaption"), Q("COM-порт"));
    EXPECT_EQ(Text("lbHCPortSpeedCaption"), Q("Скорость обмена"));
    EXPECT_EQ(Text("lbPhoneNumberCaption"), Q("Номер телефона"));
    EXPECT_EQ(Find<QPushButton>("btHCParamOK")->text(), Q("Дальше"));

    Find<QComboBox>("cbHCComPort")->setCurrentIndex(1);
    Find<QComboBox>("cbHCPortSpeed")->setCurrentText(Q("19200"));
    Find<QCheckBox>("cbUseModem")->setChecked(true);
    Find<QLineEdit>("edPhoneNumber")->setText(Q("101"));
    Click("btHCParamOK");
    ExpectOnly("panHCWork");
    const ConnectionSettings& c = form.Config()->Connection();
    EXPECT_EQ(c.portName, "COM2");
    EXPECT_EQ(c.portSpeed, 19200);
    EXPECT_TRUE(c.useModem);
    EXPECT_EQ(c.phoneNumber, "101");
    EXPECT_EQ(IniValue("порт"), "COM2");
    EXPECT_EQ(IniValue("скорость"), "19200");
    EXPECT_EQ(IniValue("чтение данных через модем"), platform::Utf8ToCp1251("да"));
    EXPECT_EQ(IniValue("номер телефона"), "101");
    EXPECT_EQ(Text("lbHCPortName"), Q("Порт - COM2"));
    EXPECT_EQ(Text("lbHCPortSpeed"), Q("Скорость - 19200"));
    EXPECT_TRUE(Visible("lbUseModem"));
    EXPECT_EQ(Text("lbUseModem"), Q("Чтение данных через модем (тел. 101)"));
    EXPECT_EQ(Find<QLineEdit>("edHCNumber")->text(), Q("7"));
}

TEST_F(HcWorkTest, UnchangedSettingsAreNotWritten) {
    OpenHCWork("");
    Click("btHCConfig");
    Click("btHCParamOK");
    ExpectOnly("panHCWork");
    EXPECT_EQ(IniValue("порт"), "-");
}

// ---------------------------------------------------------------------------------------------
// The search window.

TEST_F(HcWorkTest, EmptyAddressIsRefilledAndTheSearchWindowOpensReset) {
    OpenHCWork();
    Find<QLineEdit>("edHCNumber")->setText("");
    Click("btHCAutoSearch");
    ExpectOnly("panHCWork");
    EXPECT_EQ(Find<QLineEdit>("edHCNumber")->text(), Q("3"));

    OpenSearch();
    EXPECT_EQ(Find<QLineEdit>("edHCBegin")->text(), Q("1"));
    EXPECT_EQ(Find<QLineEdit>("edHCEnd")->text(), Q("255"));
    EXPECT_EQ(Find<QLineEdit>("edHCBegin")->maxLength(), 3);
    EXPECT_EQ(Find<QCheckBox>("cbHCNet")->toolTip(), Q("Исключить из поиска адрес 3"));
    EXPECT_TRUE(Idle());
    for (const char* hidden : {"lbHCSearchShow", "lbHCSearchNumber", "lbHCAutoFound"}) {
        EXPECT_FALSE(Visible(hidden)) << hidden;
    }
    EXPECT_TRUE(Listed().empty());
    Click("btHCAutoBack");
    ExpectOnly("panHCWork");
}

struct BadRange {
    const char* name;
    const char* begin;
    const char* end;
};

class HcSearchRangeTest : public HcWorkTest, public ::testing::WithParamInterface<BadRange> {};

TEST_P(HcSearchRangeTest, ResetsTheFieldsAndStartsNothing) {
    OpenHCWork();
    OpenSearch();
    Search(GetParam().begin, GetParam().end);
    EXPECT_EQ(Find<QLineEdit>("edHCBegin")->text(), Q("1"));
    EXPECT_EQ(Find<QLineEdit>("edHCEnd")->text(), Q("255"));
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(Visible("lbHCSearchShow"));
}

INSTANTIATE_TEST_SUITE_P(Start, HcSearchRangeTest,
                         ::testing::Values(BadRange{"EndBelowBegin", "10", "5"},
                                           BadRange{"EmptyBegin", "", "5"},
                                           BadRange{"EmptyEnd", "1", ""},
                                           BadRange{"EndPastTheLastAddress", "250", "300"}),
                         [](const ::testing::TestParamInfo<BadRange>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(HcWorkTest, SearchListsTheDevicesWithTheirFactoryNumbers) {
    emulators::HcConfig dotted = At(4, 12);
    dotted.factoryNumber = "5.3\xFF";
    testsupport::EmulatedPort port(5, {At(2, 11), dotted}, testsupport::PatientLine());
    OpenHCWork();
    OpenSearch();
    Search("1", "5", true);
    EXPECT_FALSE(Enabled("btHCStartSearch"));
    EXPECT_TRUE(Enabled("btHCStopSearch"));
    EXPECT_TRUE(Visible("lbHCSearchShow"));
    EXPECT_TRUE(Visible("lbHCAutoFound"));
    EXPECT_EQ(Text("lbHCSearchShow"), Q("Ведется поиск абонента: "));
    ASSERT_TRUE(WaitUntil([this] { return Idle(); }));
    EXPECT_EQ(Listed(), (std::vector<std::string>{Entry(2, 11), "4 - 5.3"}));
    EXPECT_EQ(Text("lbHCAbonentFinded"), Q("2"));
    EXPECT_EQ(Text("lbHCAutoFound"), Q("Найдено абонентов:"));
    EXPECT_FALSE(Visible("lbHCSearchShow"));
    EXPECT_FALSE(Visible("lbHCSearchNumber"));
    ExpectOnly("panHCAutoSearch");
    EXPECT_EQ(port.Device(2).Stats().commands, 1u);
    EXPECT_EQ(port.Line().Stats().framesForeign, 1u);  // only address 5: neither 1 nor 3
}

TEST_F(HcWorkTest, StopEndsTheSearchAndKeepsWhatWasFound) {
    testsupport::EmulatedPort port(5, {At(2, 11)}, testsupport::PatientLine());
    OpenHCWork();
    OpenSearch();
    Search("1", "255");
    ASSERT_TRUE(WaitUntil([this] { return !Listed().empty(); }));
    Click("btHCStopSearch");
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(Visible("lbHCSearchShow"));
    EXPECT_FALSE(Visible("lbHCSearchNumber"));
    EXPECT_EQ(Listed(), std::vector<std::string>{Entry(2, 11)});
    ExpectOnly("panHCAutoSearch");
}

TEST_F(HcWorkTest, BackDuringASearchAsksAndNoGoesOnYesStops) {
    testsupport::EmulatedPort port(5, {At(2, 11)}, testsupport::PatientLine());
    OpenHCWork();
    OpenSearch();
    Search("1", "255");
    Click("btHCAutoBack");
    ExpectOnly("panHCErrorSearch");
    EXPECT_FALSE(Visible("lbHCAbonentFinded"));
    EXPECT_EQ(Find<QPushButton>("btHCSearchStopOK")->text(), Q("Да"));

    Click("btHCSearchStopNO");
    ExpectOnly("panHCAutoSearch");
    EXPECT_TRUE(Visible("lbHCAbonentFinded"));
    ASSERT_TRUE(WaitUntil([this] { return !Listed().empty(); }));  // the search went on
    EXPECT_TRUE(Enabled("btHCStopSearch"));

    Click("btHCAutoBack");
    Click("btHCSearchStopOK");
    ExpectOnly("panHCWork");
    OpenSearch();
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(Listed().empty());
}

TEST_F(HcWorkTest, ReportsStillQueuedFromAStoppedSearchDoNotFillTheNextWindow) {
    testsupport::EmulatedPort port(5, {At(2, 11)}, testsupport::PatientLine());
    OpenHCWork();
    OpenSearch();
    Search("1", "255");
    // Without running the event loop: once address 3 is asked, device 2's report is queued.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (port.Line().Stats().framesForeign == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GT(port.Line().Stats().framesForeign, 0u);
    Click("btHCAutoBack");
    Click("btHCSearchStopOK");
    OpenSearch();
    QApplication::processEvents();
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(Visible("lbHCSearchNumber"));
}

TEST_F(HcWorkTest, ClosingTheProgramDuringASearchEndsItsThread) {
    testsupport::EmulatedPort port(5, {At(2, 11)}, testsupport::PatientLine());
    OpenHCWork();
    OpenSearch();
    Search("1", "255");
    ASSERT_TRUE(WaitUntil([this] { return !Listed().empty(); }));
    Stop();  // joins the search thread before the port's line goes away
    EXPECT_EQ(form_, nullptr);
}

// "COM6" names a device that does not exist while the object lives.
struct MissingCom6 {
    explicit MissingCom6(const fs::path& path) { ::setenv("CALVIX_COM6", path.c_str(), 1); }
    ~MissingCom6() { ::unsetenv("CALVIX_COM6"); }
    MissingCom6(const MissingCom6&) = delete;
    MissingCom6& operator=(const MissingCom6&) = delete;
};

TEST_F(HcWorkTest, PortThatCannotBeOpenedShowsTheErrorAndReturnsToTheSearch) {
    MissingCom6 missing(Folder() / "no-such-port");
    OpenHCWork("порт=COM6\r\n");
    OpenSearch();
    Search("1", "10");
    ASSERT_TRUE(WaitUntil([this] { return Visible("panHCError"); }));
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorCaption(), W1251("Ошибка открытия порта"));
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(Visible("lbHCSearchShow"));
    Click("btHCError");
    ExpectOnly("panHCAutoSearch");
}

TEST_F(HcWorkTest, DeviceWithABadAnswerIsReportedAndTheSearchGoesOn) {
    testsupport::EmulatedPort port(5, {At(2, 11), At(4, 12)}, testsupport::PatientLine());
    port.Device(2).InjectFault({emulators::FaultKind::BadChecksum, 2, 1, 0});
    OpenHCWork();
    OpenSearch();
    Search("2", "4", true);
    ASSERT_TRUE(WaitUntil([this] { return Visible("panHCError"); }));
    EXPECT_EQ(ErrorCaption(), W1251("Тепловычислитель не подключен или неисправен"));
    Click("btHCError");
    ExpectOnly("panHCAutoSearch");
    ASSERT_TRUE(WaitUntil([this] { return Idle(); }));
    EXPECT_EQ(Listed(), std::vector<std::string>{Entry(4, 12)});
}

}  // namespace
}  // namespace calvix::testing_gui
