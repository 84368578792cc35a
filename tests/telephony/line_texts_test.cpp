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
    EXPECT_EQ(modems[0], (ModemConfig{"COM3", telephony::kDefaultMaxRate}));
    EXPECT_EQ(modems[1], (ModemConfig{"COM5", 33600}));
    EXPECT_EQ(modems[2], (ModemConfig{"COM1", telephony::kDefaultMaxRate}));
    EXPECT_EQ(modems[3], (ModemConfig{"COM8", 56000}));
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
    EXPECT_EQ(ParseResultLine("OKAY").code, ResultCode::kNone);
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
