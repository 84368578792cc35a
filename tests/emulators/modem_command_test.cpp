// The command line of "devemu modem".
#include "emulators/modem_command.h"

#include <gtest/gtest.h>

namespace {

using emulators::DialOutcome;
using emulators::ModemParseResult;
using emulators::ParseModemArguments;

TEST(ModemCommandLine, TakesNumbersWithTheirPlans) {
    const ModemParseResult result = ParseModemArguments(
        {"--number", "101=connect,rate=19200,delay=500,peer=/dev/pts/9", "--number=102=busy",
         "--other", "no-answer,delay=3000", "--guard", "200", "--fault=garbage", "--verbose"});
    ASSERT_EQ(result.action, ModemParseResult::Action::Run) << result.message;
    const auto& modem = result.options.modem;
    ASSERT_EQ(modem.numbers.size(), 2u);
    const auto& connect = modem.numbers.at("101");
    EXPECT_EQ(connect.outcome, DialOutcome::Connect);
    EXPECT_EQ(connect.rate, 19200u);
    EXPECT_EQ(connect.delayMs, 500u);
    EXPECT_EQ(connect.peer, "/dev/pts/9");
    EXPECT_EQ(modem.numbers.at("102").outcome, DialOutcome::Busy);
    EXPECT_EQ(modem.otherNumbers.outcome, DialOutcome::NoAnswer);
    EXPECT_EQ(modem.otherNumbers.delayMs, 3000u);
    EXPECT_EQ(modem.guardMs, 200u);
    EXPECT_EQ(modem.fault, emulators::CommandFault::Garbage);
    EXPECT_TRUE(result.options.verbose);
    EXPECT_EQ(modem.defaultPeer, emulators::kEchoPeer);
}

TEST(ModemCommandLine, AHeatCalculatorBecomesTheDefaultPeer) {
    const ModemParseResult result =
        ParseModemArguments({"--hc-address", "7", "--number", "5=connect,peer=hc"});
    ASSERT_EQ(result.action, ModemParseResult::Action::Run) << result.message;
    EXPECT_TRUE(result.options.heatCalculator);
    EXPECT_EQ(result.options.heatCalculatorConfig.address, 7);
    EXPECT_EQ(result.options.modem.defaultPeer, "hc");
}

TEST(ModemCommandLine, TakesTheModemsHabits) {
    const ModemParseResult result =
        ParseModemArguments({"--profile", "e1V0Q1W1S2=255&d0", "--reset-delay", "2500", "--refuse",
                             "x4", "--refuse=&K3", "--no-dtr"});
    ASSERT_EQ(result.action, ModemParseResult::Action::Run) << result.message;
    const auto& modem = result.options.modem;
    EXPECT_EQ(modem.profile, "e1V0Q1W1S2=255&d0");
    EXPECT_EQ(modem.resetDelayMs, 2500u);
    EXPECT_EQ(modem.refused, (std::vector<std::string>{"X4", "&K3"}));
    EXPECT_FALSE(modem.dtrWired);
}

TEST(ModemCommandLine, RefusesWhatItDoesNotKnow) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--number", "101"},
             {"--number", "101=ring"},
             {"--number", "101=connect,rate=0"},
             {"--number", "101=connect,speed=9"},
             {"--other", "busy,delay=x"},
             {"--number", "5=connect,peer=hc"},
             {"--hc-address", "0"},
             {"--fault", "smoke"},
             {"--guard"},
             {"--colour", "red"},
             {"--profile", "DT101"},
             {"--profile", "S2"},
             {"--profile", "&K3"},
             {"--reset-delay", "soon"},
             {"--refuse", ""},
         }) {
        const ModemParseResult result = ParseModemArguments(args);
        EXPECT_EQ(result.action, ModemParseResult::Action::Error) << args.front();
        EXPECT_FALSE(result.message.empty());
    }
    EXPECT_EQ(ParseModemArguments({"--help"}).action, ModemParseResult::Action::Help);
    EXPECT_NE(emulators::ModemUsage().find("--number NUMBER=PLAN"), std::string::npos);
}

}  // namespace
