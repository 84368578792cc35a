// The reading worker on devices read through a parameter list, over a paced COM port: the
// records the lines give, the hourly archive at the stop line, the 180-day archive, the three
// tries of a line and a stop during the line loop.
#include <algorithm>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "reading_fixture.h"
#include "tests/emulators/hc_test_client.h"
#include "tests/support/data_records.h"
#include "tests/support/emulated_port.h"

namespace {

using namespace readingtest;
using emulators::Fault;
using emulators::FaultKind;
using emulators::hctest::Client;

const Bytes kStartText = {0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31};
constexpr int kCommandLine = 4;  // index of R_NUMBER among the lines that count

const std::vector<std::string> kList = {
    "; a list for the tests",
    "HO_START 255 0 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31",
    "R_IDENT &(12E),1,101,0,57,1 230 0 57 1000000 0 ; a data field",
    "",
    "RA_NUM 53 0 0 8 @230 1 53 1000000 0",
    "RA_NUM2 53 0 0 8",
    "R_NUMBER 53 0 0 8 230 2 53 1000000 0",
    "NOTHING_KNOWN 1 2 3",
    "HO_STOP 255 1 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31",
    "R_AFTER 11 0 0 76 230 3 11 1000000 0",
};

emulators::HcConfig Device(int version = 53) {
    emulators::HcConfig config = testsupport::Device(1, version);
    config.hourlyRecords = 3;
    return config;
}

void Append(Bytes& file, const Bytes& tags, const Bytes& data) {
    testsupport::AppendRecord(file, tags, data);
}

// What the list must give, asked of a twin of the device.
Bytes ExpectedFile(const emulators::HcConfig& config, bool hourly) {
    emulators::HcDevice device(config);
    Client twin(device);
    Bytes file;
    Append(file, {255, 0, 53, 65, 0}, kStartText);
    const auto ident = emulators::hctest::FindInDeviceDirectory(twin, 101, 0, 57);
    Append(file, {230, 0, 57, 64, 0}, twin.Read(ident->address, ident->size));
    const Bytes answer = twin.Command({53}, 9);
    const Bytes number(answer.begin() + 1, answer.end());
    Bytes pair = number;
    pair.insert(pair.end(), number.begin(), number.end());
    Append(file, {230, 1, 53, 64, 0}, pair);
    Append(file, {230, 2, 53, 64, 0}, number);
    std::uint8_t command = 16;
    for (unsigned k = 0; hourly; ++k, command = 15) {
        const Bytes hour = twin.Command({command}, 92);
        if (hour[0] != 1) {
            break;
        }
        const Bytes record = protocol::HourRecord(k, hour.data(), 91);
        file.insert(file.end(), record.begin(), record.end());
    }
    Append(file, {255, 1, 53, 65, 0}, kStartText);
    reading::PatchHourRecords(file);
    return file;
}

class ListReading : public testing::Test {
  protected:
    ListReading() {
        reading_.listName = "hc\\test.opr";
        WriteText(reading_.Folder() / "hc" / "test.opr", kList);
    }
    bool Commanded(testsupport::EmulatedPort& port, std::uint8_t code) {
        const auto log = port.Device().Stats().commandLog;
        return std::any_of(log.begin(), log.end(),
                           [code](const Bytes& c) { return !c.empty() && c[0] == code; });
    }

    Reading reading_;
};

TEST_F(ListReading, Version53GivesTheListsRecordsHoursAndThe180DayArchive) {
    const emulators::HcConfig config = Device();
    testsupport::EmulatedPort port(5, {config}, testsupport::PatientLine());
    reading_.settings.readHourly = true;
    const Outcome outcome = reading_.Run();
    ASSERT_TRUE(outcome.succeeded) << outcome.text;
    EXPECT_EQ(reading_.versions, std::vector<char>{'5'});
    EXPECT_EQ(FileBytes(reading_.DataFile()), ExpectedFile(config, true));
    const std::vector<Record> deep = Records(FileBytes(reading_.DeepFile()));
    ASSERT_FALSE(deep.empty());
    const protocol::StandardRecord start = protocol::StartRecord();
    const protocol::StandardRecord stop = protocol::StopRecord();
    EXPECT_EQ(deep.front().whole, Bytes(start.begin(), start.end()));
    EXPECT_EQ(deep.back().whole, Bytes(stop.begin(), stop.end()));
    const Bytes dayTag = {0x0E, 0x00, 0x24, 0x00, 0x00};
    EXPECT_EQ(
        std::count_if(deep.begin(), deep.end(), [&](const Record& r) { return r.tag == dayTag; }),
        180);
}

TEST_F(ListReading, OnlyThePeriodReadsNoDeepArchiveAndNothingAfterTheStopLine) {
    const emulators::HcConfig config = Device();
    testsupport::EmulatedPort port(5, {config}, testsupport::PatientLine());
    reading_.settings.onlyPeriod = true;
    const Outcome outcome = reading_.Run();
    ASSERT_TRUE(outcome.succeeded) << outcome.text;
    EXPECT_EQ(FileBytes(reading_.DataFile()), ExpectedFile(config, false));
    EXPECT_FALSE(fs::exists(reading_.DeepFile()));
    EXPECT_FALSE(Commanded(port, 11));
    EXPECT_FALSE(Commanded(port, 34));
}

TEST_F(ListReading, AFailedDeepArchiveLeavesNoDeepFileAndTheReadingStands) {
    emulators::HcConfig config = Device();
    config.refusedCommands = {34};
    testsupport::EmulatedPort port(5, {config}, testsupport::PatientLine());
    WriteText(reading_.DeepFile(), {"an earlier deep archive"});
    const Outcome outcome = reading_.Run();
    ASSERT_TRUE(outcome.succeeded) << outcome.text;
    EXPECT_TRUE(Commanded(port, 34));
    EXPECT_FALSE(fs::exists(reading_.DeepFile()));
    EXPECT_EQ(FileBytes(reading_.DataFile()), ExpectedFile(config, false));
}

TEST_F(ListReading, AStopDuringTheLineLoopEndsWithTheStopTextAlone) {
    testsupport::EmulatedPort port(5, {Device()}, testsupport::PatientLine());
    reading_.stopWhen = [](const reading::ReadProgress& p) {
        return p.statusText == kListReading && p.position >= 2;
    };
    const Outcome outcome = reading_.Run();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.text, kStopped);
    EXPECT_FALSE(fs::exists(reading_.DataFile()));
    EXPECT_FALSE(Commanded(port, 53));
}

// Lost answers on the command line's tries: two are retried, the third ends the reading.
struct RetryCase {
    const char* name;
    unsigned lostTries;
    bool succeeds;
};

class LineTries : public ListReading, public testing::WithParamInterface<RetryCase> {};

TEST_P(LineTries, ALineHasThreeTries) {
    const RetryCase& c = GetParam();
    const emulators::HcConfig config = Device();
    testsupport::EmulatedPort port(5, {config}, testsupport::PatientLine());
    reading_.settings.onlyPeriod = true;
    reading_.stopWhen = [&port, &c](const reading::ReadProgress& p) {
        if (p.statusText == kListReading && p.position == kCommandLine) {
            for (unsigned i = 0; i < c.lostTries; ++i) {
                port.Device().InjectFault({FaultKind::LostAnswer, 0, 1, 0});
            }
        }
        return false;
    };
    const Outcome outcome = reading_.Run();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(port.Device().Stats().faultsApplied, c.lostTries);
    EXPECT_GE(reading_.badExchanges, static_cast<int>(std::min(c.lostTries, 3u)));
    if (c.succeeds) {
        EXPECT_TRUE(outcome.succeeded) << outcome.text;
        EXPECT_EQ(FileBytes(reading_.DataFile()), ExpectedFile(config, false));
    } else {
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_EQ(outcome.text, Prefixed(W1251("Ошибка связи.")));
        EXPECT_FALSE(fs::exists(reading_.DataFile()));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LineTries,
                         testing::Values(RetryCase{"TwoFailedTries", 2, true},
                                         RetryCase{"ThreeFailedTries", 3, false}),
                         [](const testing::TestParamInfo<RetryCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
