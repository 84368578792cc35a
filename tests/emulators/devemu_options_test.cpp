#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulators/devemu_options.h"

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
        {"--version", "60"},
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
         {"--address", "--version", "--seed", "--polls", "--mailbox-delay", "--answer-delay",
          "--baud", "--gap", "--clock", "--fault", "--link", "--duration", "--verbose", "--help"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace emulators
