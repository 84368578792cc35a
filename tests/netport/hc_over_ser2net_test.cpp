// The heat-calculator link through a real ser2net serving the emulator's pseudo-terminal: the
// same bytes as over the local port, the refusal of a raw port, and a server that goes away.
#include <gtest/gtest.h>

#include <cstdlib>

#include "protocol/utv540.h"
#include "tests/reading/reading_fixture.h"
#include "tests/support/emulated_port.h"
#include "tests/support/process.h"
#include "tests/support/ser2net_server.h"

namespace {

using namespace readingtest;
using namespace std::chrono_literals;
using testsupport::ComRoute;
using testsupport::FileText;
using testsupport::Road;

// The device's clock stands still, so two readings of it give the same bytes.
emulators::HcConfig Frozen(int version) {
    emulators::HcConfig config = testsupport::Device(1, version);
    config.frozenClock = true;
    config.hourlyRecords = 4;
    return config;
}

struct WorkerRun {
    Outcome outcome;
    Bytes data;
};

// A version-60 reading with hours by the reading worker, on COM5 along `road`.
WorkerRun ReadVersion60(Road road) {
    testsupport::EmulatedPort port(5, {Frozen(60)}, testsupport::PatientLine());
    ComRoute route(5, port.Line().SlavePath(), road);
    Reading reading;
    reading.settings.readHourly = true;
    WorkerRun run{reading.Run(), {}};
    if (fs::exists(reading.DataFile())) {
        run.data = FileBytes(reading.DataFile());
    }
    return run;
}

TEST(NetworkPortReading, Version60GivesTheBytesOfTheLocalPort) {
    const WorkerRun local = ReadVersion60(Road::kLocal);
    ASSERT_TRUE(local.outcome.succeeded) << local.outcome.text;
    const WorkerRun network = ReadVersion60(Road::kRfc2217);
    EXPECT_TRUE(network.outcome.succeeded) << network.outcome.text;
    EXPECT_EQ(network.outcome.text, "");
    EXPECT_GT(local.data.size(), 1000u);
    EXPECT_TRUE(network.data == local.data)
        << network.data.size() << " bytes, not " << local.data.size();
}

TEST(NetworkPortReading, ARawPortIsRefusedBeforeAnyFrame) {
    testsupport::EmulatedPort port(5, {Frozen(60)}, testsupport::PatientLine());
    ComRoute route(5, port.Line().SlavePath(), Road::kRaw);
    Reading reading;
    WriteText(reading.DataFile(), {"an earlier reading"});
    const Outcome outcome = reading.Run();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.text, kPrefix + std::string(W1251("Соединение не установлено.")) +
                                protocol::FixedLinePortText("COM5"));
    EXPECT_FALSE(fs::exists(reading.DataFile()));
    EXPECT_EQ(port.Line().Stats().bytesReceived, 0u);
}

TEST(NetworkPortReading, ServerGoneWhileReadingDaysFailsCleanly) {
    testsupport::EmulatedPort port(5, {Frozen(60)}, testsupport::PatientLine());
    ComRoute route(5, port.Line().SlavePath(), Road::kRfc2217);
    Reading reading;
    reading.stopWhen = [&route](const reading::ReadProgress& p) {
        if (p.statusText == kDays && p.position >= 3) {
            route.Server().Kill();
        }
        return false;
    };
    const Outcome outcome = reading.Run();  // bounded: a hang fails the fixture's wait
    EXPECT_FALSE(route.Server().Running()) << "the server was never killed";
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.text, Prefixed(W1251("Ошибка связи.")));
    EXPECT_FALSE(fs::exists(reading.DataFile()));
    EXPECT_FALSE(fs::exists(reading.DeepFile()));
}

struct QuellarRun {
    int exitCode = -1;
    std::string printed, errors, data;
};

// quellar reads the shipped version-45 list on COM2 along `road`.
QuellarRun RunQuellar(Road road) {
    testsupport::EmulatedPort port(2, {Frozen(45)}, testsupport::PatientLine());
    ComRoute route(2, port.Line().SlavePath(), road);
    testsupport::ScratchFolder folder;
    const fs::path printed = folder.Path() / "quellar.out";
    const fs::path data = folder.Path() / "dat1hc";
    testsupport::Process quellar(
        {QUELLAR_PATH, "2", "38400", "0", "200", "1",
         std::string(CALVIX_SOURCE_DIR) + "/site/hc/tv540v45.opr", data.string()},
        printed, {}, folder.Path());
    QuellarRun run;
    run.exitCode = quellar.Wait(180s);
    run.printed = FileText(printed);
    run.errors = FileText(printed.string() + ".err");
    run.data = fs::exists(data) ? FileText(data) : "(none)";
    return run;
}

TEST(NetworkPortQuellar, ParameterListPrintsAndWritesAsOverTheLocalPort) {
    const QuellarRun local = RunQuellar(Road::kLocal);
    ASSERT_EQ(local.exitCode, 0) << local.printed << local.errors;
    const QuellarRun network = RunQuellar(Road::kRfc2217);
    EXPECT_EQ(network.exitCode, 0) << network.errors;
    EXPECT_EQ(network.printed, local.printed);
    EXPECT_TRUE(network.data == local.data)
        << network.data.size() << " bytes, not " << local.data.size();
}

TEST(NetworkPortQuellar, ARawPortCannotBeConfigured) {
    const QuellarRun run = RunQuellar(Road::kRaw);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.printed, "COM2\nCan't configure port\n");
    EXPECT_NE(run.errors.find("rfc2217://"), std::string::npos) << run.errors;
    EXPECT_TRUE(run.data == "(none)") << run.data.size() << " bytes written";
}

}  // namespace
