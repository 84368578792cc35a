// hcautoread as a program, in a working folder made from the shipped site data with the real
// builder, against emulated heat calculators on a pseudo-terminal (directly, through a modem or
// through ser2net): the reports it saves are those reportview saves from the same builder
// output, and a reading that fails leaves the archive as it was.
#include <gtest/gtest.h>

#include <csignal>
#include <map>

#include "emulators/hc_line.h"
#include "emulators/modem_emulator.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/report_files.h"
#include "platform/codepage.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ser2net_server.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC
constexpr int kAbonent = 3;               // the shipped calvix.ini's "абонент"

struct Result {
    int exitCode = -1;
    std::string err;
};

Result RunProgram(const std::vector<std::string>& argv, const fs::path& folder,
                  const std::vector<std::string>& env = {}) {
    Result result;
    {
        testsupport::Process process(argv, folder / "stdout", env, folder);
        result.exitCode = process.Wait(std::chrono::seconds(180));
    }
    result.err = ReadBytes(folder / "stdout.err");
    fs::remove(folder / "stdout");
    fs::remove(folder / "stdout.err");
    return result;
}

// The value of the first "key=" line of an INI text (1251) replaced; key and value are UTF-8.
void SetIniValue(std::string& ini, const std::string& keyUtf8, const std::string& value) {
    const std::string key = platform::Utf8ToCp1251(keyUtf8 + "=");
    const std::size_t at = ini.find(key) + key.size();
    ini.replace(at, ini.find("\r\n", at) - at, platform::Utf8ToCp1251(value));
}

// A working folder as the package ships it, the builder installed under its two names, the
// line at 115200 Bd so a reading takes seconds.
void MakeWorkingFolder(const fs::path& folder,
                       const std::vector<std::pair<std::string, std::string>>& settings = {}) {
    const fs::path site = fs::path(CALVIX_SOURCE_DIR) / "site";
    fs::copy(site / "sbl", folder / "sbl");
    fs::copy(site / "hc", folder / "hc");
    std::string ini = ReadBytes(site / "calvix.ini");
    for (std::size_t at = ini.find("=9600"); at != std::string::npos; at = ini.find("=9600")) {
        ini.replace(at, 5, "=115200");
    }
    for (const auto& [key, value] : settings) {
        SetIniValue(ini, key, value);
    }
    WriteBytes(folder / "calvix.ini", ini);
    fs::copy_file(TOUCH_PROGRAM, folder / "touch.exe");
    fs::copy_file(TOUCH_PROGRAM, folder / "hc" / "touch180.exe");
}

// File name (UTF-8) -> bytes of every file in the folder.
std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        files[entry.path().filename().string()] = ReadBytes(entry.path());
    }
    return files;
}

// The archive that reportview makes of the builder outputs the reading left in `folder`.
std::map<std::string, std::string> ArchiveOfReportview(
    const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& reports) {
    testsupport::ScratchFolder other;
    fs::create_directories(other.Path() / "hc" / "txt");
    fs::copy_file(folder / "hc" / "dat1hc", other.Path() / "hc" / "dat1hc");
    for (const auto& [name, caption] : reports) {
        const std::string report = "hc/txt/" + name + ".txt";
        fs::copy_file(folder / report, other.Path() / report);
        const Result run = RunProgram(
            {REPORTVIEW_PROGRAM, "hc/dat1hc", report, "--save-archive", caption}, other.Path());
        EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
    }
    return Files(other.Path() / "Archive");
}

std::string ArchiveName(const fs::path& folder, const std::string& caption) {
    const calvix::DataFileFacts facts = calvix::InspectDataFile(folder / "hc" / "dat1hc", "TV540");
    const std::string path =
        calvix::ArchiveReportPath(facts.deviceTitle + platform::Utf8ToCp1251(caption));
    return platform::Cp1251ToUtf8(path.substr(path.find('\\') + 1));
}

// The archive holds the reporting month's report of the version-60 device, as reportview saves it.
void ExpectTheReportingMonthReport(const fs::path& folder) {
    const std::string caption =
        "Ведомость учета тепловой энергии за отчетный месяц (ноябрь 2024 г)";
    EXPECT_EQ(Files(folder / "Archive"), ArchiveOfReportview(folder, {{"month_hw", caption}}));
    EXPECT_EQ(Files(folder / "Archive").count(ArchiveName(folder, caption)), 1u);
}

struct ReadCase {
    const char* name;
    int version;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> reports;  // template, caption (UTF-8)
};

class Hcautoread : public ::testing::TestWithParam<ReadCase> {};

TEST_P(Hcautoread, SavesTheReportsReportviewSavesFromTheSameReading) {
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(folder.Path());
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = GetParam().version;
    device.clockEpoch = kClock;
    device.hourlyRecords = 24;
    emulators::HcLine line({device});
    std::vector<std::string> argv{HCAUTOREAD_PROGRAM};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    const Result run = RunProgram(argv, folder.Path(), {"CALVIX_COM1=" + line.SlavePath()});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::map<std::string, std::string> saved = Files(folder.Path() / "Archive");
    EXPECT_EQ(saved, ArchiveOfReportview(folder.Path(), GetParam().reports));
    ASSERT_EQ(saved.size(), GetParam().reports.size());
    EXPECT_NE(run.err.find("hcautoread: reading COM1 (" + line.SlavePath() + ") address 3"),
              std::string::npos)
        << run.err;
    for (const auto& [name, caption] : GetParam().reports) {
        const std::string file = ArchiveName(folder.Path(), caption);
        EXPECT_EQ(saved.count(file), 1u) << file;
        EXPECT_NE(run.err.find("hcautoread: saved Archive/" + file + "\n"), std::string::npos)
            << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Hcautoread,
    ::testing::Values(
        ReadCase{
            "Version60MarkedReport",
            60,
            {},
            {{"month_hw", "Ведомость учета тепловой энергии за отчетный месяц (ноябрь 2024 г)"}}},
        ReadCase{
            "Version53ParameterList",
            53,
            {},
            {{"month_tw", "Ведомость учета тепловой энергии за отчетный месяц (ноябрь 2024 г)"}}},
        ReadCase{
            "Version45EveryReport",
            45,
            {"--all"},
            {{"month_tw", "Ведомость учета тепловой энергии за отчетный месяц (ноябрь 2024 г)"},
             {"prev_tw", "Ведомость учета тепловой энергии за ноябрь 2024 г"},
             {"cur_tw", "Ведомость учета тепловой энергии за декабрь 2024 г"},
             {"day_tw", "Суточная ведомость за 6 декабря 2024 г"},
             {"temp_tw", "Ведомость температур и давлений за отчетный месяц (ноябрь 2024 г)"}}}),
    [](const ::testing::TestParamInfo<ReadCase>& param) { return param.param.name; });

TEST(HcautoreadReports, AReportThatCannotBeMadeFailsTheRunAndTheOthersAreStillSaved) {
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(folder.Path());
    fs::remove(folder.Path() / "sbl" / "prev_hw.sbl");
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = 60;
    device.clockEpoch = kClock;
    device.hourlyRecords = 24;
    emulators::HcLine line({device});
    const Result run = RunProgram({HCAUTOREAD_PROGRAM, "--all"}, folder.Path(),
                                  {"CALVIX_COM1=" + line.SlavePath()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("template sbl/prev_hw.sbl is missing"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("5 of 6 reports saved"), std::string::npos) << run.err;
    EXPECT_EQ(Files(folder.Path() / "Archive").size(), 5u);
}

TEST(HcautoreadModem, ReadsThroughTheModemLibraryAndSavesTheMarkedReport) {
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(
        folder.Path(),
        {{"порт", "COM3"}, {"номер телефона", "101"}, {"чтение данных через модем", "да"}});
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = 60;
    device.clockEpoch = kClock;
    emulators::HcLine line({device});
    emulators::ModemOptions options;
    options.guardMs = 200;
    options.numbers["101"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, line.SlavePath()};
    emulators::ModemEmulator modem(options);
    const Result run = RunProgram({HCAUTOREAD_PROGRAM}, folder.Path(),
                                  {"CALVIX_COM3=" + modem.SlavePath(), "TARVEX_MODEMS=COM3",
                                   std::string("LD_LIBRARY_PATH=") + TARVEX_LIBRARY_DIR});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(modem.Stats().dialled, std::vector<std::string>{"101"});
    EXPECT_NE(run.err.find("hcautoread: reading through the modem, number 101, address 3"),
              std::string::npos)
        << run.err;
    ExpectTheReportingMonthReport(folder.Path());
}

TEST(HcautoreadNetwork, ReadsThroughAnRfc2217ServerAndSavesWhatReportviewSaves) {
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(folder.Path());
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = 60;
    device.clockEpoch = kClock;
    device.hourlyRecords = 24;
    emulators::HcLine line({device});
    testsupport::Ser2netServer server(line.SlavePath(), testsupport::Ser2netServer::Mode::kRfc2217,
                                      "115200n81");
    const Result run =
        RunProgram({HCAUTOREAD_PROGRAM}, folder.Path(), {"CALVIX_COM1=" + server.Url()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("hcautoread: reading COM1 (" + server.Url() + ") address 3"),
              std::string::npos)
        << run.err;
    ExpectTheReportingMonthReport(folder.Path());
}

TEST(HcautoreadNetwork, ARawPortIsRefusedAndTheArchiveIsLeftAsItWas) {
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(folder.Path());
    const std::string kept = "an earlier report\r\n";
    WriteBytes(folder.Path() / "Archive" / "earlier.txt", kept);
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = 60;
    device.clockEpoch = kClock;
    emulators::HcLine line({device});
    testsupport::Ser2netServer server(line.SlavePath(), testsupport::Ser2netServer::Mode::kRaw,
                                      "115200n81");
    const Result run =
        RunProgram({HCAUTOREAD_PROGRAM}, folder.Path(), {"CALVIX_COM1=" + server.Url()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Укажите сервер порта как rfc2217://узел:порт."), std::string::npos)
        << run.err;
    EXPECT_EQ(line.Stats().bytesReceived, 0u);
    EXPECT_FALSE(fs::exists(folder.Path() / "hc" / "txt"));
    EXPECT_EQ(Files(folder.Path() / "Archive"),
              (std::map<std::string, std::string>{{"earlier.txt", kept}}));
}

struct FailureCase {
    const char* name;
    int abonent;      // in calvix.ini; the device answers at 3
    bool portExists;  // CALVIX_COM1 names the emulator's line, else a path that is not there
    bool withCalvixIni;
    bool withBuilder;
    const char* message;  // in the log
};

class HcautoreadFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(HcautoreadFailures, LeaveTheArchiveAsItWas) {
    const FailureCase& c = GetParam();
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(folder.Path(), {{"абонент", std::to_string(c.abonent)}});
    if (!c.withCalvixIni) {
        fs::remove(folder.Path() / "calvix.ini");
    }
    if (!c.withBuilder) {
        fs::remove(folder.Path() / "touch.exe");
    }
    const std::string kept = platform::Utf8ToCp1251("Прибор № 1, ранее, отчет\r\n");
    WriteBytes(folder.Path() / "Archive" / "earlier.txt", kept);
    const auto before = fs::last_write_time(folder.Path() / "Archive");
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = 60;
    device.clockEpoch = kClock;
    emulators::HcLine line({device});
    const std::string port = c.portExists ? line.SlavePath() : (folder.Path() / "no-port").string();
    const Result run = RunProgram({HCAUTOREAD_PROGRAM}, folder.Path(), {"CALVIX_COM1=" + port});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(Files(folder.Path() / "Archive"),
              (std::map<std::string, std::string>{{"earlier.txt", kept}}));
    EXPECT_EQ(fs::last_write_time(folder.Path() / "Archive"), before);
    EXPECT_FALSE(fs::exists(folder.Path() / "hc" / "txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, HcautoreadFailures,
    ::testing::Values(FailureCase{"SilentDevice", 7, true, true, true,
                                  "тепловычислителя. Соединение не установлено.\n"},
                      FailureCase{"AbsentPort", kAbonent, false, true, true, "the reading failed"},
                      FailureCase{"NoWorkingFolder", kAbonent, true, false, true,
                                  "no calvix.ini in "},
                      FailureCase{"NoBuilder", kAbonent, true, true, false,
                                  "the report builder touch.exe is missing"}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

// Both console programs that read: a signal must not leave a partial data file.
class ConsoleReadingStop : public ::testing::TestWithParam<const char*> {};

TEST_P(ConsoleReadingStop, ASignalDuringTheReadingStopsItAndLeavesNothingBehind) {
    testsupport::ScratchFolder folder;
    MakeWorkingFolder(folder.Path(), {{"скорость", "9600"}});
    const std::string kept = "an earlier report\r\n";
    WriteBytes(folder.Path() / "Archive" / "earlier.txt", kept);
    emulators::HcConfig device;
    device.address = kAbonent;
    device.version = 60;
    device.clockEpoch = kClock;
    emulators::HcLine line({device});
    const fs::path err = folder.Path() / "stdout.err";
    testsupport::Process process({GetParam()}, folder.Path() / "stdout",
                                 {"CALVIX_COM1=" + line.SlavePath()}, folder.Path());
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return ReadBytes(err).find("Считываются суточные архивы") != std::string::npos; },
        std::chrono::seconds(120)))
        << ReadBytes(err);
    process.Signal(SIGTERM);
    EXPECT_EQ(process.Wait(std::chrono::seconds(60)), 1);
    EXPECT_NE(ReadBytes(err).find("Чтение архивов из тепловычислителя прервано."),
              std::string::npos)
        << ReadBytes(err);
    EXPECT_FALSE(fs::exists(folder.Path() / "hc" / "dat1hc"));
    EXPECT_FALSE(fs::exists(folder.Path() / "hc" / "txt"));
    EXPECT_EQ(Files(folder.Path() / "Archive"),
              (std::map<std::string, std::string>{{"earlier.txt", kept}}));
}

INSTANTIATE_TEST_SUITE_P(Programs, ConsoleReadingStop,
                         ::testing::Values(HCAUTOREAD_PROGRAM, HCREAD_PROGRAM));

TEST(HcautoreadUsage, AnUnknownOptionIsRefusedBeforeAnythingIsRead) {
    testsupport::ScratchFolder folder;
    const Result run = RunProgram({HCAUTOREAD_PROGRAM, "--days"}, folder.Path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("usage: hcautoread [--all]"), std::string::npos) << run.err;
}

}  // namespace
