#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "emulators/devemu_dump.h"
#include "emulators/devemu_options.h"
#include "tests/support/scratch_folder.h"

namespace emulators {
namespace {

using Action = HcParseResult::Action;

HcParseResult Parse(std::vector<std::string> args) {
    return ParseHcArguments(args);
}

TEST(DevemuOptionsTest, DefaultsGiveOneDeviceAtAddressOne) {
    const HcParseResult r = Parse({});
    ASSERT_EQ(r.action, Action::Run);
    ASSERT_EQ(r.options.devices.size(), 1u);
    EXPECT_EQ(r.options.devices[0].address, 1);
    EXPECT_EQ(r.options.devices[0].version, 45);
    EXPECT_EQ(r.options.devices[0].clockEpoch, 0);
    EXPECT_EQ(r.options.line.baud, 0u);
    EXPECT_EQ(r.options.durationS, 0u);
}

TEST(DevemuOptionsTest, EveryOptionReachesTheConfiguration) {
    const HcParseResult r = Parse({"--address",
                                   "3",
                                   "--address=7",
                                   "--seed",
                                   "10",
                                   "--polls",
                                   "2",
                                   "--mailbox-delay",
                                   "300",
                                   "--answer-delay",
                                   "5",
                                   "--baud",
                                   "9600",
                                   "--gap",
                                   "80",
                                   "--clock",
                                   "2024-03-15 10:20:30",
                                   "--link",
                                   "/tmp/x",
                                   "--duration",
                                   "4",
                                   "--verbose"});
    ASSERT_EQ(r.action, Action::Run) << r.message;
    ASSERT_EQ(r.options.devices.size(), 2u);
    EXPECT_EQ(r.options.devices[0].address, 3);
    EXPECT_EQ(r.options.devices[1].address, 7);
    EXPECT_EQ(r.options.devices[0].seed, 10u);
    EXPECT_EQ(r.options.devices[1].seed, 11u);
    EXPECT_EQ(r.options.devices[1].statusZeroPolls, 2u);
    EXPECT_EQ(r.options.devices[1].mailboxDelayMs, 300u);
    EXPECT_EQ(r.options.devices[1].answerDelayMs, 5u);
    EXPECT_EQ(r.options.devices[0].clockEpoch, 1710498030);
    EXPECT_EQ(r.options.line.baud, 9600u);
    EXPECT_EQ(r.options.line.gapTimeoutMs, 80u);
    EXPECT_EQ(r.options.line.linkPath, "/tmp/x");
    EXPECT_EQ(r.options.durationS, 4u);
    EXPECT_TRUE(r.options.verbose);
}

TEST(DevemuOptionsTest, DeviceGivesItsOwnVersionAndAddressTakesTheLineVersion) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::pair<int, int>> addressVersion;  // in the order given
    };
    const std::vector<Case> cases = {
        {{"--device", "3:60", "--device=5:53"}, {{3, 60}, {5, 53}}},
        {{"--address", "2", "--device", "3:60", "--version", "53"}, {{2, 53}, {3, 60}}},
        {{"--version", "60", "--address", "3", "--address", "7"}, {{3, 60}, {7, 60}}},
        {{"--device", "9:45", "--version", "60"}, {{9, 45}}},
    };
    for (const Case& c : cases) {
        const HcParseResult r = Parse(c.args);
        ASSERT_EQ(r.action, Action::Run) << r.message;
        std::vector<std::pair<int, int>> got;
        for (const HcConfig& d : r.options.devices) {
            got.emplace_back(d.address, d.version);
        }
        EXPECT_EQ(got, c.addressVersion) << testing::PrintToString(c.args);
        EXPECT_EQ(r.options.devices.back().seed, r.options.devices.size())
            << "the n-th device, --address or --device, gets seed 1+n";
    }
}

TEST(DevemuOptionsTest, FaultsAreParsedInOrder) {
    const HcParseResult r =
        Parse({"--fault", "lost-answer:2@5", "--fault", "silence:3000@20", "--fault", "garbage",
               "--fault=wrong-head@1", "--fault", "bad-checksum:3"});
    ASSERT_EQ(r.action, Action::Run) << r.message;
    const auto& f = r.options.faults;
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[0].kind, FaultKind::LostAnswer);
    EXPECT_EQ(f[0].count, 2u);
    EXPECT_EQ(f[0].afterFrames, 5u);
    EXPECT_EQ(f[1].kind, FaultKind::Silence);
    EXPECT_EQ(f[1].durationMs, 3000u);
    EXPECT_EQ(f[1].afterFrames, 20u);
    EXPECT_EQ(f[2].kind, FaultKind::Garbage);
    EXPECT_EQ(f[2].count, 1u);
    EXPECT_EQ(f[3].kind, FaultKind::WrongHead);
    EXPECT_EQ(f[3].afterFrames, 1u);
    EXPECT_EQ(f[4].kind, FaultKind::BadChecksum);
    EXPECT_EQ(f[4].count, 3u);
}

TEST(DevemuOptionsTest, BadArgumentsAreErrorsWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {"--address", "0"},
        {"--address", "256"},
        {"--address", "2", "--address", "2"},
        {"--version", "61"},
        {"--field31"},
        {"--field31", "--device", "3:60", "--device", "5:53"},
        {"--device", "3"},
        {"--device", "0:60"},
        {"--device", "3:61"},
        {"--device", "3:60", "--address", "3"},
        {"--hours", "x"},
        {"--report-day", "0"},
        {"--missing-days", "1,,2"},
        {"--missing-days", "1001"},
        {"--clock-status", "256"},
        {"--refuse", "16,300"},
        {"--seed", "-1"},
        {"--baud", "10"},
        {"--gap", "0"},
        {"--clock", "2024-02-30 10:00:00"},
        {"--clock", "1999-12-31 23:59:59"},
        {"--clock", "2024-03-15"},
        {"--fault", "silence"},
        {"--fault", "lost-answer:0"},
        {"--fault", "melt-down"},
        {"--fault", "garbage@x"},
        {"--polls"},
        {"--frobnicate", "1"},
        {"stray"},
    };
    for (const auto& args : bad) {
        const HcParseResult r = Parse(args);
        EXPECT_EQ(r.action, Action::Error) << args.front();
        EXPECT_FALSE(r.message.empty()) << args.front();
    }
}

TEST(DevemuOptionsTest, HelpIsRecognisedAndDescribesEveryOption) {
    EXPECT_EQ(Parse({"--address", "2", "--help"}).action, Action::Help);
    const std::string help = HcUsage();
    for (const char* option :
         {"--address",        "--version",      "--seed",          "--polls",
          "--mailbox-delay",  "--answer-delay", "--baud",          "--gap",
          "--clock",          "--fault",        "--link",          "--duration",
          "--verbose",        "--help",         "--field31",       "--hours",
          "--empty-archives", "--missing-days", "--missing-every", "--clock-status",
          "--clock-bad-date", "--refuse",       "--device",        "--report-day"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(DevemuOptionsTest, ArchiveOptionsReachTheConfiguration) {
    const HcParseResult r =
        Parse({"--version", "60", "--field31", "--hours=12", "--empty-archives", "--missing-days",
               "0,3,17", "--missing-every", "7", "--clock-status", "2", "--clock-bad-date",
               "--refuse", "16,15,12", "--report-day", "25"});
    ASSERT_EQ(r.action, Action::Run) << r.message;
    const HcConfig& c = r.options.devices.at(0);
    EXPECT_EQ(c.reportDay, 25);
    EXPECT_EQ(c.version, 60);
    EXPECT_TRUE(c.field31);
    EXPECT_EQ(c.hourlyRecords, 12u);
    EXPECT_TRUE(c.emptyArchives);
    EXPECT_EQ(c.missingDays, (std::vector<unsigned>{0, 3, 17}));
    EXPECT_EQ(c.missingEveryNthDay, 7u);
    EXPECT_EQ(c.clockStatus, 2);
    EXPECT_TRUE(c.clockBadDate);
    EXPECT_EQ(c.refusedCommands, (std::vector<std::uint8_t>{16, 15, 12}));

    const HcConfig defaults = Parse({}).options.devices.at(0);
    EXPECT_FALSE(defaults.field31);
    EXPECT_EQ(defaults.hourlyRecords, 240u);
    EXPECT_EQ(defaults.clockStatus, 1);
    EXPECT_FALSE(Parse({"--version", "53"}).options.devices.empty());
}

TEST(DevemuDumpOptionsTest, DumpOptionsAndDeviceOptionsAreSeparated) {
    const DumpParseResult r =
        ParseDumpArguments({"--seed", "4", "--output", "/tmp/d.dat", "--no-year", "--drop",
                            "hourly,stop", "--clock", "2024-03-15 10:20:30", "--size=2000",
                            "--truncate", "1500", "--dump-version", "53", "--field31"});
    ASSERT_EQ(r.action, DumpParseResult::Action::Run) << r.message;
    EXPECT_EQ(r.device.version, 60) << "the default of a dump";
    EXPECT_EQ(r.device.seed, 4u);
    EXPECT_EQ(r.device.clockEpoch, 1710498030);
    EXPECT_TRUE(r.device.field31);
    EXPECT_EQ(r.outputPath, "/tmp/d.dat");
    EXPECT_TRUE(r.dump.clockWithoutYear);
    EXPECT_EQ(r.dump.drop, (std::vector<DumpPart>{DumpPart::Hourly, DumpPart::Stop}));
    EXPECT_EQ(r.dump.padTo, 2000u);
    EXPECT_EQ(r.dump.truncateAt, 1500u);
    EXPECT_EQ(r.dump.versionByte, 53);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {},                                            // no --output
             {"--output", "x", "--version", "45"},          // not version 60
             {"--output", "x", "--drop", "hourly,weekly"},  // unknown kind
             {"--output", "x", "--address", "1", "--address", "2"},
             {"--output", "x", "--pad", "-1"},
             {"--output", "x", "--frobnicate", "1"},
             {"--output"}}) {
        const DumpParseResult e = ParseDumpArguments(bad);
        EXPECT_EQ(e.action, DumpParseResult::Action::Error) << testing::PrintToString(bad);
        EXPECT_FALSE(e.message.empty());
    }
    EXPECT_EQ(ParseDumpArguments({"--help"}).action, DumpParseResult::Action::Help);
    for (const char* option : {"--output", "--no-year", "--drop", "--dump-version", "--pad",
                               "--truncate", "--field31", "hourly", "monthly"}) {
        EXPECT_NE(DumpUsage().find(option), std::string::npos) << option;
    }
}

TEST(DevemuDumpOptionsTest, DumpMainWritesTheFile) {
    testsupport::ScratchFolder folder;
    const std::string path = (folder.Path() / "upd.dat").string();
    ::testing::internal::CaptureStdout();
    const int status = DumpMain(
        {"--output", path, "--clock", "2024-03-15 10:20:30", "--hours", "5", "--truncate", "700"});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), path + "\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::filesystem::file_size(path), 700u);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(DumpMain({"--output", path, "--version", "45"}), 2);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("version-60"), std::string::npos);
}

}  // namespace
}  // namespace emulators
