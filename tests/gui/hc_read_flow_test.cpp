// The archive read flow of the main window, through the real window, against emulated heat
// calculators on paced pseudo-terminals.
#include <QCheckBox>
#include <QColor>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>

#include "gui/calvix_app.h"
#include "gui/hc_read_flow.h"
#include "gui/unitmainform.h"
#include "platform/serial_port.h"
#include "protocol/data_file.h"
#include "reading/modem_library.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/emulated_port.h"
#include "tests/telephony/emulated_modem.h"

namespace calvix::testing_gui {
namespace {

constexpr const char* kFailed = "Ошибка при чтении архивов из тепловычислителя.\n";

// What calvix.ini says; UTF-8, stored as 1251.
struct Site {
    std::string abonent = "1";
    std::string port = "COM5";
    std::string program = "calvix.exe";
    std::string phone;
    std::string modem = "нет";
    std::string configFile = "hc\\full.opr";
    std::string configFilePeriod = "hc\\period.opr";
};

std::string IniText(const Site& site) {
    std::string device =
        "список шаблонов=Отчеты\n"
        "файл конфигурации=" +
        site.configFile +
        "\n"
        "файл конфигурации, только отчетный период=" +
        site.configFilePeriod + "\n";
    return "[Чтение данных из TV540]\nабонент=" + site.abonent + "\nтип=TV540\nпорт=" + site.port +
           "\nскорость=9600\nпрограмма для чтения архивов=" + site.program +
           "\nномер телефона=" + site.phone + "\nчтение данных через модем=" + site.modem +
           "\nдлительность установления соединения=5\n\n"
           "[Определение версии TV540]\n302/101/0/30/15=60,53,45\n\n"
           "[TV540 версия 60]\n" +
           device + "\n[TV540 версия 45]\n" + device + "\n[TV540]\n" + device +
           "\n[Отчеты]\nmonth_hw=Ведомость за отчетный месяц<выбран>\n"
           "prev_hw=Ведомость за прошлый месяц\n";
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { ::unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
};

class HcReadFlow : public GuiTest {
  protected:
    // The window in the heat-calculator mode, on the panel of the heat-calculator window.
    void Open(const Site& site = {}) {
        WriteFile(Folder() / "calvix.ini", IniText(site));
        std::error_code ignored;  // a file in its place stays, for the unwritable folder
        fs::create_directories(Folder() / "hc", ignored);
        Start();
        Click("btTV540Mode");
        ExpectOnly("panHCWork");
    }

    void Ask(bool hourly = false, bool onlyPeriod = false) {
        Click("btHCRead");
        ExpectOnly("panHCQuestion");
        Find<QCheckBox>("cbHCDayRead")->setChecked(hourly);
        Find<QCheckBox>("cbHCReadOnlyOtPeriod")->setChecked(onlyPeriod);
    }

    // "Да", then waits for the wait window to go away.
    void ReadToEnd(bool hourly = false, bool onlyPeriod = false) {
        Ask(hourly, onlyPeriod);
        Click("btHCQuestionYes");
        ASSERT_TRUE(WaitUntil([this] { return !Visible("panHCWait"); }))
            << "the reading did not end";
    }

    bool DataFileLeft() { return fs::exists(Folder() / "hc" / "dat1hc"); }

    // A parameter list shipped with the program, into the working folder's "hc".
    void CopyShippedList(const char* name) {
        fs::create_directories(Folder() / "hc");
        fs::copy_file(fs::path(CALVIX_SOURCE_DIR) / "site" / "hc" / name, Folder() / "hc" / name,
                      fs::copy_options::overwrite_existing);
    }

    void ExpectError(const std::string& message) {
        ExpectOnly("panHCError");
        EXPECT_EQ(ErrorText(), message);
        EXPECT_FALSE(DataFileLeft());
        Click("btHCError");
        ExpectOnly("panHCWork");
    }

    // A data file of an earlier reading: start and stop record.
    void WriteEmptyDataFile() {
        fs::create_directories(Folder() / "hc");
        auto file = protocol::DataFile::Create(Folder() / "hc" / "dat1hc");
        ASSERT_NE(file, nullptr);
        protocol::WriteStartRecord(*file);
        protocol::WriteStopRecord(*file);
        ASSERT_TRUE(file->Close());
    }
};

TEST_F(HcReadFlow, ReadButtonIsEnabledAndOpensTheQuestion) {
    Open();
    EXPECT_TRUE(Find("btHCRead")->isEnabled());
    Click("btHCRead");
    ExpectOnly("panHCQuestion");
    EXPECT_EQ(Find<QLabel>("lbHCQuestion")->text(),
              Q("Произвести чтение архива из тепловычислителя?"));
    EXPECT_EQ(Find<QCheckBox>("cbHCDayRead")->text(), Q("Читать часовые архивы"));
    EXPECT_EQ(Find<QCheckBox>("cbHCReadOnlyOtPeriod")->text(),
              Q("Читать только за отчетный период"));
    EXPECT_EQ(Find<QPushButton>("btHCQuestionYes")->text(), Q("Да"));
    EXPECT_EQ(Find<QPushButton>("btHCQuestionNo")->text(), Q("Нет"));
    EXPECT_EQ(Find<QPushButton>("btHCQuestionBack")->text(), Q("Назад"));
}

TEST_F(HcReadFlow, AddressOutsideOneTo255DoesNothing) {
    for (const char* address : {"0", "300", ""}) {
        Site site;
        Open(site);
        Find<QLineEdit>("edHCNumber")->setText(QString::fromLatin1(address));
        Click("btHCRead");
        ExpectOnly("panHCWork");
        Stop();
    }
}

TEST_F(HcReadFlow, ChangedAddressIsSavedInTheConfiguration) {
    Open();
    Find<QLineEdit>("edHCNumber")->setText(QStringLiteral("17"));
    Click("btHCRead");
    ExpectOnly("panHCQuestion");
    EXPECT_EQ(form_->Config()->Connection().abonent, 17);
    Stop();
    EXPECT_NE(ReadFile(Folder() / "calvix.ini").find(platform::Utf8ToCp1251("абонент=17")),
              std::string::npos);
}

TEST_F(HcReadFlow, OnlyPeriodDisablesHourlyArchives) {
    Open();
    Click("btHCRead");
    auto* hourly = Find<QCheckBox>("cbHCDayRead");
    auto* onlyPeriod = Find<QCheckBox>("cbHCReadOnlyOtPeriod");
    EXPECT_TRUE(hourly->isEnabled());
    onlyPeriod->click();
    EXPECT_FALSE(hourly->isEnabled());
    onlyPeriod->click();
    EXPECT_TRUE(hourly->isEnabled());
}

TEST_F(HcReadFlow, BackReturnsToTheHeatCalculatorWindow) {
    Open();
    Click("btHCRead");
    Click("btHCQuestionBack");
    ExpectOnly("panHCWork");
}

TEST_F(HcReadFlow, NoWithoutDataFileShowsTheError) {
    Open();
    Click("btHCRead");
    Click("btHCQuestionNo");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Файл данных hc\\dat1hc не найден");
    Click("btHCError");
    ExpectOnly("panHCWork");
}

// The read options decide which report buttons can be used for the data file.
TEST_F(HcReadFlow, NoWithDataFileTakesItWithTheChosenOptions) {
    struct Case {
        bool hourly;
        bool onlyPeriod;
        bool calendar;     // btCalendarR
        bool severalDays;  // btSeveralDaysR
    };
    for (const Case& c : {Case{false, false, false, true}, Case{true, false, true, true},
                          Case{true, true, false, false}, Case{false, true, false, false}}) {
        WriteEmptyDataFile();
        Open();
        Ask(c.hourly, c.onlyPeriod);
        Click("btHCQuestionNo");
        ExpectOnly("panReport");
        EXPECT_FALSE(form_->ReportCheckBoxes().empty());
        EXPECT_EQ(Find("btCalendarR")->isEnabled(), c.calendar) << c.hourly << c.onlyPeriod;
        EXPECT_EQ(Find("btSeveralDaysR")->isEnabled(), c.severalDays) << c.hourly << c.onlyPeriod;
        Stop();
    }
}

// A version-60 device read over the COM port ends in the report selection window.
TEST_F(HcReadFlow, Version60ReadEndsInTheReportSelection) {
    emulators::HcConfig device = testsupport::Device(1, 60);
    device.hourlyRecords = 4;
    testsupport::EmulatedPort port(5, {device}, testsupport::PatientLine());
    Open();
    ReadToEnd(/*hourly=*/true);
    ExpectOnly("panReport");
    EXPECT_TRUE(DataFileLeft());
    EXPECT_FALSE(form_->ReportCheckBoxes().empty());
    EXPECT_TRUE(Find("btCalendarR")->isEnabled());
    EXPECT_TRUE(Find("btSeveralDaysR")->isEnabled());
    EXPECT_TRUE(Find<QLabel>("lbWaitReadHCTime")->text().startsWith(Q("Общее время считывания: ")));
    EXPECT_EQ(Find("ShapeReadArchive")->property("color").value<QColor>(), QColor(0, 0x80, 0));
    EXPECT_GT(port.Device(1).Stats().readFrames, 0u);
}

// The modem road from the window: the library the tests built, an emulated modem on COM3 whose
// number 101 leads to the line of a version-60 device.
TEST_F(HcReadFlow, Version60ThroughTheModemEndsInTheReportSelection) {
    emulators::HcConfig device = testsupport::Device(1, 60);
    device.hourlyRecords = 2;
    emulators::HcLine line({device}, testsupport::PatientLine());
    emulators::ModemOptions options;
    options.numbers["101"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, line.SlavePath()};
    testsupport::EmulatedModem modem(3, options);
    Site site;
    site.port = "COM3";
    site.modem = "да";
    site.phone = "101";
    // The window first: the program's own search for the library then finds none, as in every
    // test, and does not take this one by its name once it is loaded.
    Open(site);
    const std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex(TARVEX_LIBRARY_PATH);
    ASSERT_TRUE(library->Loaded()) << library->LoadError();
    THCReadFlow::UseModemLibrary(library.get());
    ReadToEnd(/*hourly=*/false, /*onlyPeriod=*/true);
    THCReadFlow::UseModemLibrary(nullptr);
    ExpectOnly("panReport");
    EXPECT_TRUE(DataFileLeft());
    EXPECT_EQ(modem->Stats().dialled, std::vector<std::string>{"101"});
    EXPECT_EQ(library->ModemGetCommHandle(3), 0u);  // the call ended with the reading
}

struct FailureCase {
    const char* name;
    std::function<void(Site&)> configure;
    int version;  // of the device on COM5
    bool hourly;
    bool onlyPeriod;
    std::string message;  // UTF-8, after the common beginning
};

class HcReadFailure : public HcReadFlow, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HcReadFailure, EndsOnTheErrorPanelWithoutDataFile) {
    const FailureCase& c = GetParam();
    testsupport::EmulatedPort port(5, {testsupport::Device(1, c.version)},
                                   testsupport::PatientLine());
    ScopedVariable missingPort("CALVIX_COM6", "/nonexistent/tty-of-no-device");
    Site site;
    c.configure(site);
    Open(site);
    ReadToEnd(c.hourly, c.onlyPeriod);
    ExpectError(kFailed + c.message);
    EXPECT_NE(platform::SerialPort::Open("COM5"), nullptr) << "the port was left open";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HcReadFailure,
    ::testing::Values(
        FailureCase{"WrongReadingProgram", [](Site& s) { s.program = "quellar.exe"; }, 60, false,
                    false, "Неверная программа для чтения"},
        FailureCase{"ModemWithoutPhoneNumber", [](Site& s) { s.modem = "да"; }, 60, false, false,
                    "Соединение не установлено.\nНе задан номер телефона."},
        // The test program has no modem library beside it.
        FailureCase{"ModemLibraryMissing",
                    [](Site& s) {
                        s.modem = "да";
                        s.phone = "5551234";
                    },
                    60, false, false,
                    "Соединение не установлено.\nНе найдена библиотека libtarvex.so."},
        FailureCase{"PortCannotBeOpened", [](Site& s) { s.port = "COM6"; }, 60, false, false,
                    "Соединение не установлено."},
        FailureCase{"SilentDevice", [](Site& s) { s.abonent = "7"; }, 60, false, false,
                    "Соединение не установлено."},
        FailureCase{"HourlyOnTheParameterListDevice",
                    [](Site& s) { s.configFile = "hc\\tv540wi.opr"; }, 45, true, false,
                    "Невозможно читать архивы по дням на данной версии прибора."},
        FailureCase{"MissingParameterList", [](Site&) {}, 45, false, false,
                    "Отсутствует файл конфигурации hc\\full.opr"},
        FailureCase{"MissingParameterListOfThePeriod", [](Site&) {}, 45, true, true,
                    "Отсутствует файл конфигурации hc\\period.opr"}),
    [](const ::testing::TestParamInfo<FailureCase>& test) { return test.param.name; });

TEST_F(HcReadFlow, UnwritableDataFolderFails) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    WriteFile(Folder() / "hc", "not a folder", false);
    Open();
    ReadToEnd();
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), std::string(kFailed) + "Ошибка при создании файла данных hc\\dat1hc");
    EXPECT_TRUE(fs::is_regular_file(Folder() / "hc"));
}

TEST_F(HcReadFlow, DeviceLostMidReadingFails) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    emulators::Fault lost;
    lost.kind = emulators::FaultKind::Silence;
    lost.afterFrames = 40;
    lost.durationMs = 10 * 60 * 1000;
    port.Device(1).InjectFault(lost);
    Open();
    ReadToEnd();
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText().rfind(std::string(kFailed) + "Ошибка связи.", 0), 0u) << ErrorText();
    EXPECT_FALSE(DataFileLeft());
}

// "Прервать" at each stage of a reading: before the connection stands, in the built-in reading
// of a version-60 device, in the parameter list of a version-45 device.
TEST_F(HcReadFlow, CancelAtEachStageEndsWithTheWorkersMessage) {
    struct Case {
        const char* stage;
        int version;
        const char* status;  // cancel once this shows with the bar moved; null: at once
    };
    for (const Case& c :
         {Case{"connecting", 60, nullptr}, Case{"version 60", 60, "Считываются суточные архивы"},
          Case{"parameter list", 45, "Считываются данные из тепловычислителя"}}) {
        SCOPED_TRACE(c.stage);
        testsupport::EmulatedPort port(5, {testsupport::Device(1, c.version)},
                                       testsupport::PatientLine());
        Site site;
        site.configFile = "hc\\tv540v45.opr";
        CopyShippedList("tv540v45.opr");
        Open(site);
        Ask();
        Click("btHCQuestionYes");
        ExpectOnly("panHCWait");
        EXPECT_EQ(Find<QLabel>("lbWaitReadHC")->text(),
                  Q("Считываются данные из тепловычислителя"));
        EXPECT_EQ(Find<QLabel>("lbWaitReadHCTime")->text(),
                  Q("Общее время считывания: 0 мин 0 сек"));
        EXPECT_EQ(Find<QProgressBar>("pbHC1")->value(), 0);
        if (c.status != nullptr) {
            ASSERT_TRUE(WaitUntil([this, &c] {
                return (Find<QProgressBar>("pbHC1")->value() > 0 &&
                        Find<QLabel>("lbWaitReadHC")->text() == Q(c.status)) ||
                       !Visible("panHCWait");
            }));
        }
        Click("btCancelReadHC");
        ASSERT_TRUE(WaitUntil([this] { return !Visible("panHCWait"); }));
        ExpectError("Чтение архивов из тепловычислителя прервано.");
        Stop();
        EXPECT_NE(platform::SerialPort::Open("COM5"), nullptr) << "the port was left open";
    }
}

// The list of the reporting period; a version-53 device then leaves its 180-day archive alone,
// and the report buttons of hours and several days are off for this data file.
TEST_F(HcReadFlow, Version53OnlyPeriodReadsThePeriodList) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 53)}, testsupport::PatientLine());
    Site site;
    site.configFilePeriod = "hc\\tv540v53.opr";
    CopyShippedList("tv540v53.opr");
    Open(site);
    ReadToEnd(/*hourly=*/false, /*onlyPeriod=*/true);
    ExpectOnly("panReport");
    EXPECT_TRUE(DataFileLeft());
    EXPECT_FALSE(fs::exists(Folder() / "hc" / "dat2hc"));
    EXPECT_FALSE(Find("btCalendarR")->isEnabled());
    EXPECT_FALSE(Find("btSeveralDaysR")->isEnabled());
}

TEST_F(HcReadFlow, WindowClosedDuringTheReadEndsTheWorker) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    Open();
    Ask();
    Click("btHCQuestionYes");
    ASSERT_TRUE(WaitUntil([&port] { return port.Device(1).Stats().readFrames > 3; }));
    Stop();  // joins the worker; a hang here fails the test by its time-out
    EXPECT_FALSE(DataFileLeft());
}

// systemctl stop or a closed session: the program leaves its loop at once and the reading ends
// as if the window were closed.
TEST_F(HcReadFlow, ASignalDuringTheReadEndsTheLoopAndLeavesNoDataFile) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    QuitOnSignals(*qApp);
    Open();
    Ask();
    Click("btHCQuestionYes");
    ASSERT_TRUE(WaitUntil([&port] { return port.Device(1).Stats().readFrames > 3; }));
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    QTimer::singleShot(std::chrono::seconds(60), [] { QCoreApplication::exit(1); });
    EXPECT_EQ(qApp->exec(), 0);
    Stop();
    EXPECT_FALSE(DataFileLeft());
}

}  // namespace
}  // namespace calvix::testing_gui
