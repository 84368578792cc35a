// The current-values window of the main window, through the real window, against emulated heat
// calculators on paced pseudo-terminals.
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulators/hc_values.h"
#include "gui/dialog_service.h"
#include "gui/dialogs.h"
#include "gui/display_text.h"
#include "gui/hc_read_flow.h"
#include "gui/rules/current_values.h"
#include "gui/unitmainform.h"
#include "reading/modem_library.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/emulated_port.h"
#include "tests/telephony/emulated_modem.h"

namespace calvix::testing_gui {
namespace {

// calvix.ini of the tests (UTF-8, stored as 1251): the device at address 1 on COM5.
std::string IniText(const std::string& abonent, const std::string& port,
                    const std::string& modem = "нет", const std::string& phone = "") {
    return "[Чтение данных из TV540]\nабонент=" + abonent + "\nтип=TV540\nпорт=" + port +
           "\nскорость=9600\nчтение данных через модем=" + modem + "\nномер телефона=" + phone +
           "\n"
           "длительность установления соединения=5\n\n"
           "[Определение версии TV540]\n302/101/0/30/15=60,53,45\n";
}

class CurrentValuesWindow : public GuiTest {
  protected:
    // The heat-calculator window with the address `number` typed in.
    void Open(const char* number = "1", const std::string& port = "COM5",
              const std::string& modem = "нет", const std::string& phone = "") {
        WriteFile(Folder() / "calvix.ini", IniText("1", port, modem, phone));
        Start();
        Click("btTV540Mode");
        ExpectOnly("panHCWork");
        Find<QLineEdit>("edHCNumber")->setText(QString::fromLatin1(number));
    }

    QLineEdit* Field(int n) { return Find<QLineEdit>(("edHCCur" + std::to_string(n)).c_str()); }
    std::string Text(int n) { return From1251Widget(Field(n)->text()); }
    CurrentFieldTexts Shown() {
        CurrentFieldTexts shown;
        for (int n = 1; n <= 20; ++n) {
            shown[static_cast<std::size_t>(n - 1)] = Text(n);
        }
        return shown;
    }
    QString Status() { return Find<QLabel>("lbHCCurrentConnStatus")->text(); }
    bool Idle() { return Find("btHCCurrentStart")->isEnabled(); }

    // "Текущие значения", then waits for the first values.
    void ReadValues() {
        Click("btHCCurrent");
        ExpectOnly("panHCCurrent");
        ASSERT_TRUE(WaitUntil([this] { return !Field(1)->text().isEmpty() || Idle(); }));
        ASSERT_FALSE(Field(1)->text().isEmpty()) << Status().toStdString();
    }

    // The fields show one answer the device gave since `since`, decoded for `version`.
    bool FromDevice(emulators::HcDevice& device, std::int64_t since, int version,
                    const emulators::CurrentValuesOptions& options = {}) {
        CurrentValuesFormat format;
        format.version = version;
        const CurrentFieldTexts shown = Shown();
        for (std::int64_t t = since - 1; t <= device.DeviceTime() + 1; ++t) {
            if (DecodeCurrentValues(
                    emulators::CurrentValuesAnswer(device.Config().seed, t, options), format) ==
                shown) {
                return true;
            }
        }
        return false;
    }

    void BackAndWait() {
        Click("btHCCurBack");
        ASSERT_TRUE(WaitUntil([this] { return Visible("panHCWork"); }));
        ExpectOnly("panHCWork");
    }

    // "Дальше" of the printer choice box with its last entry, the PDF file.
    void ChoosePdf() {
        TSelectPrinterBox* box = form_->SelectPrinterBox();
        box->show();
        auto* list = box->findChild<QListWidget*>(QStringLiteral("listAllPrinters"));
        list->setCurrentRow(list->count() - 1);
        box->findChild<QAbstractButton*>(QStringLiteral("btStartSP"))->click();
        ASSERT_TRUE(box->PdfChosen());
    }
    // The printed text's lines that are not empty, trimmed.
    static QStringList PdfLines(const std::string& pdf) {
        QProcess process;
        process.start(
            QStringLiteral("pdftotext"),
            {QStringLiteral("-layout"), QString::fromStdString(pdf), QStringLiteral("-")});
        EXPECT_TRUE(process.waitForFinished(60000) && process.exitCode() == 0);
        QStringList lines;
        for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
            if (!line.trimmed().isEmpty()) {
                lines.push_back(line.trimmed());
            }
        }
        return lines;
    }

    static bool EndsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    }
};

std::string W(const char* utf8) {
    return platform::Utf8ToCp1251(utf8);
}

TEST_F(CurrentValuesWindow, PanelHasItsCaptionsAndButtons) {
    Open();
    EXPECT_TRUE(Find("btHCCurrent")->isEnabled());
    EXPECT_EQ(Find<QPushButton>("btHCCurrentStart")->text(), Q("Старт"));
    EXPECT_EQ(Find<QPushButton>("btHCCurrentPrint")->text(), Q("Распечатать"));
    EXPECT_TRUE(Find("btHCCurrentPrint")->isEnabled());
    EXPECT_EQ(Find<QPushButton>("btHCCurBack")->text(), Q("Назад"));
    std::vector<QString> captions;
    for (QLabel* label : form_->PanelWidget(Panel::HCCurrent)->findChildren<QLabel*>()) {
        captions.push_back(label->text());
    }
    for (const char* caption : {"Расход", "Тепло", "Температура", "Давление", "Код ошибки",
                                "Трубопровод 1", "Трубопровод 4"}) {
        EXPECT_NE(std::find(captions.begin(), captions.end(), Q(caption)), captions.end())
            << caption;
    }
    for (int n = 1; n <= 20; ++n) {
        EXPECT_TRUE(Field(n)->isReadOnly()) << n;
    }
}

TEST_F(CurrentValuesWindow, Version45ShowsTheDevicesValuesWithUnits) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    Open();
    const std::int64_t since = port.Device().DeviceTime();
    ReadValues();
    EXPECT_TRUE(FromDevice(port.Device(), since, 45));
    for (int pipe = 0; pipe < 4; ++pipe) {
        EXPECT_TRUE(EndsWith(Text(pipe * 4 + 1), W(" т/ч."))) << Text(pipe * 4 + 1);
        EXPECT_TRUE(EndsWith(Text(pipe * 4 + 2), W(" ГДж/ч."))) << Text(pipe * 4 + 2);
        EXPECT_TRUE(EndsWith(Text(pipe * 4 + 3), W(" град."))) << Text(pipe * 4 + 3);
        EXPECT_TRUE(EndsWith(Text(pipe * 4 + 4), W(" МПа."))) << Text(pipe * 4 + 4);
        EXPECT_FALSE(Text(17 + pipe).empty());
    }
    EXPECT_TRUE(Find<QLabel>("lbHCCurrentNum")->text().startsWith(Q("Заводской номер: ")));
    EXPECT_TRUE(Find<QLabel>("lbHCCurrentAddr")->text().startsWith(Q("Адрес: ")));
    EXPECT_EQ(Field(1)->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_FALSE(Idle());
    ASSERT_TRUE(WaitUntil([this] { return Status().startsWith(Q("Считываются данные. Общее")); }));
    EXPECT_EQ(Find("shapeReadCurrents")->property("color").value<QColor>(), QColor(0, 0x80, 0));
    EXPECT_EQ(Find("ShapeReadArchive")->property("color").value<QColor>(), QColor(0, 0x80, 0));
}

TEST_F(CurrentValuesWindow, Version60LeavesPipelines3And4Empty) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    Open();
    const std::int64_t since = port.Device().DeviceTime();
    ReadValues();
    EXPECT_TRUE(FromDevice(port.Device(), since, 60));
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 17, 18}) {
        EXPECT_FALSE(Text(n).empty()) << n;
    }
    for (int n : {9, 10, 11, 12, 13, 14, 15, 16, 19, 20}) {
        EXPECT_TRUE(Text(n).empty()) << n;
    }
}

TEST_F(CurrentValuesWindow, TemperatureAbove900ShowsHashesAndGigacaloriesStay) {
    emulators::HcConfig device = testsupport::Device(1, 45);
    device.pipeline1Temperature = 950;
    device.energyUnit = 1;
    testsupport::EmulatedPort port(5, {device}, testsupport::PatientLine());
    Open();
    ReadValues();
    EXPECT_EQ(Text(3), "##########");
    EXPECT_TRUE(EndsWith(Text(2), W(" ГКал/ч."))) << Text(2);
    EXPECT_TRUE(EndsWith(Text(7), W(" град."))) << Text(7);
}

TEST_F(CurrentValuesWindow, SixFailuresInARowEndTheReadingWithLinkError) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    Open();
    ReadValues();
    port.Device().InjectFault({emulators::FaultKind::Silence, 0, 1, 600000});
    ASSERT_TRUE(WaitUntil([this] { return Idle(); }));
    EXPECT_EQ(Status(), Q("Соединение разорвано. Ошибка связи."));
    ExpectOnly("panHCCurrent");
    EXPECT_EQ(Field(1)->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0));
    EXPECT_TRUE(Visible("shapeReadCurrents"));
    EXPECT_EQ(Find("shapeReadCurrents")->property("color").value<QColor>(), QColor(0xFF, 0xFF, 0));
    // A finished reading: "Назад" leaves at once.
    Click("btHCCurBack");
    ExpectOnly("panHCWork");
}

// "Назад" while a request runs: the window stays until the worker has ended.
TEST_F(CurrentValuesWindow, BackDuringAReadReturnsWhenTheRequestEnds) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 45)}, testsupport::PatientLine());
    Open();
    ReadValues();
    Click("btHCCurBack");
    ExpectOnly("panHCCurrent");
    ASSERT_TRUE(WaitUntil([this] { return Visible("panHCWork"); }));
    ExpectOnly("panHCWork");
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(Status().startsWith(Q("Соединение разорвано"))) << Status().toStdString();
    // Again from the heat-calculator window: a fresh reading with empty fields at first.
    ReadValues();
    BackAndWait();
}

TEST_F(CurrentValuesWindow, PortThatCannotOpenEndsNotConnected) {
    Open("1", "COM6");
    ::setenv("CALVIX_COM6", "/nonexistent/tty-of-no-device", 1);
    Click("btHCCurrent");
    ASSERT_TRUE(WaitUntil([this] { return Idle(); }));
    EXPECT_EQ(Status(), Q("Соединение не установлено."));
    EXPECT_TRUE(Field(1)->text().isEmpty());
    Click("btHCCurBack");
    ExpectOnly("panHCWork");
}

TEST_F(CurrentValuesWindow, AddressOutside1To255PutsThreeBack) {
    for (const char* address : {"0", "256", ""}) {
        Open(address);
        Click("btHCCurrent");
        ExpectOnly("panHCWork");
        EXPECT_EQ(Find<QLineEdit>("edHCNumber")->text(), QStringLiteral("3")) << address;
        EXPECT_EQ(form_->Config()->Connection().abonent, 1);
        Stop();
    }
}

TEST_F(CurrentValuesWindow, ChangedAddressIsSavedAndTheReadingStarts) {
    Open("17", "COM6");
    ::setenv("CALVIX_COM6", "/nonexistent/tty-of-no-device", 1);
    Click("btHCCurrent");
    ExpectOnly("panHCCurrent");
    EXPECT_EQ(form_->Config()->Connection().abonent, 17);
    ASSERT_TRUE(WaitUntil([this] { return Idle(); }));
    Stop();
    EXPECT_NE(ReadFile(Folder() / "calvix.ini").find(W("абонент=17")), std::string::npos);
}

// The sheet of what the window shows, with the 10 lines of pipelines 3 and 4 also for version 60.
TEST_F(CurrentValuesWindow, PrintsTheSheetOfTheShownValues) {
    testsupport::EmulatedPort port(5, {testsupport::Device(1, 60)}, testsupport::PatientLine());
    Open();
    ReadValues();
    BackAndWait();
    ChoosePdf();
    const std::string pdf = (Folder() / "sheet.pdf").string();
    DialogService::SetNextFileName(pdf);
    form_->HidePanel(Panel::HCWork);
    form_->ShowPanel(Panel::HCCurrent);
    Click("btHCCurrentPrint");
    ExpectOnly("panHCCurrent");
    const QStringList lines = PdfLines(pdf);
    ASSERT_EQ(lines.size(), 23) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith(Q("Ведомость текущих данных за "))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], Find<QLabel>("lbHCCurrentNum")->text());
    EXPECT_TRUE(lines[2].startsWith(Q("Адрес: "))) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith(Field(1)->text() + " _")) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].endsWith(Q("Расход по трубопроводу 1")));
    EXPECT_EQ(lines[11], Q("_______________________ Расход по трубопроводу 3"));
    EXPECT_EQ(lines[22], Q("_______________________ Код ошибки по трубопроводу 4"));
}

TEST_F(CurrentValuesWindow, PrintWithoutPrintersShowsTheError) {
    if (!QPrinterInfo::availablePrinterNames().isEmpty()) {
        GTEST_SKIP() << "this machine has printers";
    }
    Open();
    form_->HidePanel(Panel::HCWork);
    form_->ShowPanel(Panel::HCCurrent);
    Click("btHCCurrentPrint");
    ExpectOnly("panHCError");
    EXPECT_EQ(ErrorText(), "Не найдены принтеры, установленные на компьютере.");
    Click("btHCError");
    ExpectOnly("panHCCurrent");
}

// The modem road: the library the tests built, an emulated modem on COM3 whose number 101 leads
// to the line of the device; the call ends with the reading.
TEST_F(CurrentValuesWindow, ValuesThroughTheModem) {
    emulators::HcLine line({testsupport::Device(1, 45)}, testsupport::PatientLine());
    emulators::ModemOptions options;
    options.numbers["101"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, line.SlavePath()};
    testsupport::EmulatedModem modem(3, options);
    Open("1", "COM3", "да", "101");
    const std::unique_ptr<reading::ModemLibrary> library = reading::LoadTarvex(TARVEX_LIBRARY_PATH);
    ASSERT_TRUE(library->Loaded()) << library->LoadError();
    THCReadFlow::UseModemLibrary(library.get());
    const std::int64_t since = line.Device(1).DeviceTime();
    ReadValues();
    EXPECT_TRUE(FromDevice(line.Device(1), since, 45));
    BackAndWait();
    THCReadFlow::UseModemLibrary(nullptr);
    EXPECT_EQ(modem->Stats().dialled, std::vector<std::string>{"101"});
    EXPECT_EQ(library->ModemGetCommHandle(3), 0u);
}

}  // namespace
}  // namespace calvix::testing_gui
