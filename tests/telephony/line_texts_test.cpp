// What the line layer reads from its configuration and from its modems.
#include <string>

#include <gtest/gtest.h>

#include "telephony/modem_config.h"
#include "telephony/result_codes.h"

namespace {

using telephony::CarrierLossScanner;
using telephony::LineAssembler;
using telephony::ModemConfig;
using telephony::ParseModemList;
using telephony::ParseResultLine;
using telephony::ResultCode;

TEST(ModemList, TakesPortsWithOptionalRatesInOrder) {
    const auto modems = ParseModemList(" COM3  com5:33600,COM1;COM8:56000 ");
    ASSERT_EQ(modems.size(), 4u);
    const std::pair<const char*, std::uint32_t> expected[] = {{"COM3", telephony::kDefaultMaxRate},
                                                              {"COM5", 33600},
                                                              {"COM1", telephony::kDefaultMaxRate},
                                                              {"COM8", 56000}};
    for (std::size_t i = 0; i < 4; ++i) {
        ModemConfig config;
        config.portName = expected[i].first;
        config.maxRate = expected[i].second;
        EXPECT_EQ(modems[i], config);
    }
}

TEST(ModemList, TakesEachModemsOwnSettings) {
    const auto modems = ParseModemList(
        "COM3:33600/init=X3/init=AT+MS=V34/dte=57600/rtscts/dial=ATX3DP COM5/dial=atdt");
    ASSERT_EQ(modems.size(), 2u);
    EXPECT_EQ(modems[0].maxRate, 33600u);
    EXPECT_EQ(modems[0].init, (std::vector<std::string>{"X3", "+MS=V34"}));
    EXPECT_EQ(modems[0].dteRate, 57600u);
    EXPECT_TRUE(modems[0].rtsCts);
    EXPECT_EQ(modems[0].dialPrefix, "ATX3DP");
    EXPECT_EQ(modems[1].dialPrefix, "atdt");
    EXPECT_TRUE(modems[1].init.empty());
    EXPECT_EQ(modems[1].dteRate, telephony::kDefaultDteRate);
    EXPECT_FALSE(modems[1].rtsCts);
}

TEST(ModemList, SkipsAnEntryWithABadSetting) {
    for (const char* entry :
         {"COM3/init=", "COM3/init=AT", "COM3/dte=0", "COM3/dte=fast", "COM3/dial=ATH",
          "COM3/dial=DT", "COM3/dial=ATDT5", "COM3/colour=red", "COM3/rtscts=1", "COM3/"}) {
        EXPECT_TRUE(ParseModemList(entry).empty()) << entry;
    }
}

TEST(DialString, RefusesWhatWouldEndTheDialCommand) {
    EXPECT_TRUE(telephony::IsDialString("8,W(495) 123-45-67*#ABCD!@"));
    EXPECT_TRUE(telephony::IsDialString("T101"));
    for (const char* number : {"101\r", "101;", "101\rATZ", "101\n", "10+1", "101/"}) {
        EXPECT_FALSE(telephony::IsDialString(number)) << number;
    }
}

TEST(ModemList, SkipsMalformedAndRepeatedEntries) {
    const auto modems =
        ParseModemList("COM9 COM0 /dev/ttyS0 COM2:fast COM2:0 COM3: COM4 COM4:9600 LPT1");
    ASSERT_EQ(modems.size(), 1u);
    EXPECT_EQ(modems[0].portName, "COM4");
    EXPECT_TRUE(ParseModemList("").empty());
}

TEST(ResultCodes, VerboseCodesAndRates) {
    EXPECT_EQ(ParseResultLine("OK").code, ResultCode::kOk);
    EXPECT_EQ(ParseResultLine("RING").code, ResultCode::kRing);
    EXPECT_EQ(ParseResultLine("BUSY").code, ResultCode::kBusy);
    EXPECT_EQ(ParseResultLine("NO ANSWER").code, ResultCode::kNoAnswer);
    EXPECT_EQ(ParseResultLine("NO CARRIER").code, ResultCode::kNoCarrier);
    EXPECT_EQ(ParseResultLine("NO DIALTONE").code, ResultCode::kNoDialTone);
    EXPECT_EQ(ParseResultLine("NO DIAL TONE").code, ResultCode::kNoDialTone);
    EXPECT_EQ(ParseResultLine("ERROR").code, ResultCode::kError);
    EXPECT_EQ(ParseResultLine("CONNECT 9600").rate, 9600u);
    EXPECT_EQ(ParseResultLine("CONNECT 33600/ARQ/V34").rate, 33600u);
    EXPECT_EQ(ParseResultLine("CONNECT").rate, 300u);
    EXPECT_EQ(ParseResultLine("ATD101").code, ResultCode::kNone);
    EXPECT_EQ(ParseResultLine("CARRIER 28800").code, ResultCode::kCarrier);
    EXPECT_EQ(ParseResultLine("CARRIER 28800/V34").rate, 28800u);
    EXPECT_EQ(ParseResultLine("PROTOCOL: LAP-M").code, ResultCode::kNone);
    EXPECT_EQ(ParseResultLine("OKAY").code, ResultCode::kNone);
}

TEST(ResultCodes, NumericCodes) {
    const std::pair<const char*, ResultCode> cases[] = {
        {"0", ResultCode::kOk},        {"1", ResultCode::kConnect},  {"2", ResultCode::kRing},
        {"3", ResultCode::kNoCarrier}, {"4", ResultCode::kError},    {"6", ResultCode::kNoDialTone},
        {"7", ResultCode::kBusy},      {"8", ResultCode::kNoAnswer}, {"18", ResultCode::kConnect},
        {"40", ResultCode::kNone},     {"0 1", ResultCode::kNone},   {"1000", ResultCode::kNone},
    };
    for (const auto& [line, code] : cases) {
        EXPECT_EQ(ParseResultLine(line).code, code) << line;
    }
    EXPECT_EQ(ParseResultLine("1").rate, 0u);  // the vendors' numeric rates differ
}

TEST(LineAssembler, SplitsAtLineEndsAndDropsOverlongGarbage) {
    LineAssembler assembler;
    std::vector<std::string> lines;
    const std::string input = "\r\nOK\r\n" + std::string(100, 'x') + "\r\nRING\r";
    for (char c : input) {
        if (auto line = assembler.Feed(static_cast<std::uint8_t>(c))) {
            lines.push_back(*line);
        }
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"OK", "RING"}));
}

TEST(CarrierLossScanner, FindsNoCarrierAcrossDataAndNothingElse) {
    CarrierLossScanner scanner;
    const std::string data = "\x01\r\r\nNO CARRIE\r\nNO CARRIER";
    for (char c : data) {
        EXPECT_FALSE(scanner.Feed(static_cast<std::uint8_t>(c)));
    }
    EXPECT_TRUE(scanner.Feed('\r'));
    EXPECT_FALSE(scanner.Feed('\n'));
}

}  // namespace
