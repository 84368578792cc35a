// The reading worker over a paced COM port: the version-60 reading, and every way a reading
// fails before or while it reads.
#include <regex>

#include <gtest/gtest.h>

#include "reading/modem_library.h"
#include "reading_fixture.h"
#include "tests/support/emulated_port.h"

namespace {

using namespace readingtest;
using emulators::Fault;
using emulators::FaultKind;

emulators::HcConfig Device(int version) {
    emulators::HcConfig config = testsupport::Device(1, version);
    config.hourlyRecords = 4;
    return config;
}

TEST(Version60Reading, WritesWhatTheProtocolObjectWrites) {
    const emulators::HcConfig config = Device(60);
    testsupport::EmulatedPort port(5, {config}, testsupport::PatientLine());
    Reading reading;
    reading.settings.readHourly = true;
    const Outcome outcome = reading.Run();
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.succeeded) << outcome.text;
    EXPECT_EQ(outcome.text, "");
    EXPECT_EQ(reading.versions, std::vector<char>{'<'});
    ASSERT_GE(reading.statusTexts.size(), 3u);
    EXPECT_EQ(reading.statusTexts[0], W1251("Устанавливается соединение. Ждите ..."));
    EXPECT_EQ(reading.statusTexts[1], W1251("Соединение установлено."));
    const std::regex time{std::string(W1251("Общее время считывания: [0-9]+ мин [0-9]+ сек"))};
    for (const std::string& text : reading.timeTexts) {
        EXPECT_TRUE(std::regex_match(text, time)) << text;
    }
    EXPECT_GT(reading.goodExchanges, 0);
    ExpectSameRecords(FileBytes(reading.DataFile()), DirectVersion60(config, true, false));
    EXPECT_FALSE(fs::exists(reading.DeepFile()));
}

TEST(Version60Reading, OnlyThePeriodLeavesMonthsAndHoursOut) {
    const emulators::HcConfig config = Device(60);
    testsupport::EmulatedPort port(5, {config}, testsupport::PatientLine());
    Reading reading;
    reading.settings.readHourly = true;
    reading.settings.onlyPeriod = true;
    const Outcome outcome = reading.Run();
    EXPECT_TRUE(outcome.succeeded) << outcome.text;
    ExpectSameRecords(FileBytes(reading.DataFile()), DirectVersion60(config, true, true));
}

// Every failure: one end report, the exact text, no data file left (an old one is gone too).
struct FailureCase {
    const char* name;
    int version;
    std::function<void(Reading&, testsupport::EmulatedPort&)> setUp;
    std::string text;
    bool deviceAnswered;  // whether any exchange took place
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadingFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ReadingFailure, EndsOnceWithItsTextAndNoDataFile) {
    const FailureCase& c = GetParam();
    testsupport::EmulatedPort port(5, {Device(c.version)}, testsupport::PatientLine());
    Reading reading;
    WriteText(reading.DataFile(), {"an earlier reading"});
    c.setUp(reading, port);
    const Outcome outcome = reading.Run();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.text, c.text);
    EXPECT_FALSE(fs::exists(reading.DataFile()));
    EXPECT_FALSE(fs::exists(reading.DeepFile()));
    EXPECT_EQ(port.Line().Stats().answersSent > 0, c.deviceAnswered);
}

void UseModem(Reading& reading, const std::string& phone) {
    reading.settings.useModem = true;
    reading.settings.portName = "COM3";
    reading.settings.phoneNumber = phone;
}

const std::string kNotConnected(W1251("Соединение не установлено."));
const std::string kNoLibrary(
    W1251("Соединение не установлено.\r\nНе найдена библиотека libtarvex.so."));

std::unique_ptr<reading::ModemLibrary> gMissingLibrary;

const FailureCase kFailures[] = {
    {"WrongProgram", 45,
     [](Reading& r, testsupport::EmulatedPort&) { r.settings.readerProgram = "quellar.exe"; },
     Prefixed(W1251("Неверная программа для чтения")), false},
    {"ModemWithoutPhoneNumber", 45, [](Reading& r, testsupport::EmulatedPort&) { UseModem(r, ""); },
     Prefixed(W1251("Соединение не установлено.\r\nНе задан номер телефона.")), false},
    {"ModemWithoutLibrary", 45, [](Reading& r, testsupport::EmulatedPort&) { UseModem(r, "101"); },
     kPrefix + kNoLibrary, false},
    {"ModemLibraryNotLoaded", 45,
     [](Reading& r, testsupport::EmulatedPort&) {
         UseModem(r, "101");
         gMissingLibrary = reading::LoadTarvex("libtarvex-none.so");
         r.environment.modem = gMissingLibrary.get();
     },
     kPrefix + kNoLibrary, false},
    {"PortCannotBeOpened", 45,
     [](Reading& r, testsupport::EmulatedPort&) {
         r.settings.portName = "COM7";
         ::setenv("CALVIX_COM7", (r.Folder() / "no-such-port").c_str(), 1);
     },
     kPrefix + kNotConnected, false},
    {"SilentDevice", 45,
     [](Reading&, testsupport::EmulatedPort& p) {
         p.Device().InjectFault({FaultKind::Silence, 0, 1, 600000});
     },
     kPrefix + kNotConnected, false},
    // "Прервать" while a silent device is tried: the tries end at once, not after all of them.
    {"StopWhileTheDeviceIsSilent", 45,
     [](Reading& r, testsupport::EmulatedPort& p) {
         p.Device().InjectFault({FaultKind::Silence, 0, 1, 600000});
         r.environment.stopEvent =
             std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
         r.stopWhen = [stop = r.environment.stopEvent](const reading::ReadProgress&) {
             stop->Set();
             return false;
         };
     },
     kStopped, false},
    {"StopWhileConnecting", 45,
     [](Reading& r, testsupport::EmulatedPort&) {
         r.stopWhen = [](const reading::ReadProgress&) { return true; };
     },
     kStopped, false},
    {"DailyHoursOnTv540wi", 45,
     [](Reading& r, testsupport::EmulatedPort&) {
         r.settings.readHourly = true;
         r.listName = "hc\\tv540wi.opr";
     },
     Prefixed(W1251("Невозможно читать архивы по дням на данной версии прибора.")), true},
    {"DailyHoursOnTv540wiO", 45,
     [](Reading& r, testsupport::EmulatedPort&) {
         r.settings.readHourly = true;
         r.listName = "hc\\tv540wi_o.opr";
     },
     Prefixed(W1251("Невозможно читать архивы по дням на данной версии прибора.")), true},
    {"MissingParameterList", 45,
     [](Reading& r, testsupport::EmulatedPort&) { r.listName = "hc\\missing.opr"; },
     Prefixed(W1251("Отсутствует файл конфигурации ")) + "hc\\missing.opr", true},
    {"DataFileCannotBeCreated", 60,
     [](Reading& r, testsupport::EmulatedPort&) {
         // A file where the folder should be: refused whoever runs the test.
         fs::remove_all(r.Folder() / "hc");
         WriteText(r.Folder() / "hc", {"not a folder"});
     },
     Prefixed(W1251("Ошибка при создании файла данных ")) + "hc\\dat1hc", true},
    {"DeviceLostWhileReadingDays", 60,
     [](Reading&, testsupport::EmulatedPort& p) {
         p.Device().InjectFault({FaultKind::Silence, 60, 1, 600000});
     },
     Prefixed(W1251("Ошибка связи.")), true},
    {"StopWhileReadingDays", 60,
     [](Reading& r, testsupport::EmulatedPort&) {
         r.stopWhen = [](const reading::ReadProgress& p) {
             return p.statusText == kDays && p.position >= 3;
         };
     },
     kStopped, true},
};

std::string CaseName(const testing::TestParamInfo<FailureCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadingFailure, testing::ValuesIn(kFailures), CaseName);

TEST(ReadingHandle, DroppedWhileReadingCancelsAndEndsOnce) {
    testsupport::EmulatedPort port(5, {Device(60)}, testsupport::PatientLine());
    Reading reading;
    reading.dropWhen = [](const reading::ReadProgress& p) {
        return p.statusText == kDays && p.position == 2;
    };
    const Outcome outcome = reading.Run();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.text, kStopped);
    EXPECT_FALSE(fs::exists(reading.DataFile()));
}

}  // namespace
