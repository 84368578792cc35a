// The reading worker through a modem call: the real libtarvex.so, loaded as the program loads
// it, dials an emulated modem whose call leads to an emulated heat calculator.
#include <algorithm>

#include <gtest/gtest.h>

#include "emulators/hc_line.h"
#include "reading/modem_library.h"
#include "reading_fixture.h"
#include "tests/emulators/hc_test_client.h"
#include "tests/support/emulated_port.h"
#include "tests/telephony/emulated_modem.h"

namespace {

using namespace readingtest;
using emulators::FaultKind;

constexpr int kModemPort = 3;

emulators::HcConfig Device(int version) {
    emulators::HcConfig config = testsupport::Device(1, version);
    config.hourlyRecords = 2;
    return config;
}

emulators::ModemOptions Options(const std::string& hcPath) {
    emulators::ModemOptions options;  // the library's own waits: a real guard time
    options.guardMs = 200;
    options.numbers["101"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, hcPath};
    options.numbers["105"] = emulators::DialPlan{emulators::DialOutcome::Silence, 0, 10, ""};
    return options;
}

class ModemReading : public testing::Test {
  protected:
    explicit ModemReading(int version = 60)
        : config_(Device(version)),
          hc_({config_}, testsupport::PatientLine()),
          modem_(kModemPort, Options(hc_.SlavePath())),
          // After the modem is named in TARVEX_MODEMS: the library reads it when loaded.
          library_(reading::LoadTarvex(TARVEX_LIBRARY_PATH)) {
        reading_.settings.useModem = true;
        reading_.settings.portName = "COM" + std::to_string(kModemPort);
        reading_.settings.phoneNumber = "101";
        reading_.settings.connectTimeout = 30;
        reading_.environment.modem = library_.get();
    }

    emulators::HcConfig config_;
    emulators::HcLine hc_;
    testsupport::EmulatedModem modem_;
    std::unique_ptr<reading::ModemLibrary> library_;
    Reading reading_;
};

TEST_F(ModemReading, Version60ThroughTheModemWritesWhatTheProtocolObjectWrites) {
    ASSERT_TRUE(library_->Loaded()) << library_->LoadError();
    reading_.settings.onlyPeriod = true;
    const Outcome outcome = reading_.Run();
    ASSERT_TRUE(outcome.succeeded) << outcome.text;
    EXPECT_EQ(modem_->Stats().dialled, std::vector<std::string>{"101"});
    ExpectSameRecords(FileBytes(reading_.DataFile()), DirectVersion60(config_, false, true));
    // The call is over once the reading ended.
    EXPECT_EQ(library_->ModemGetCommHandle(kModemPort), 0u);
}

TEST_F(ModemReading, StopWhileDiallingEndsTheDialAtOnce) {
    ASSERT_TRUE(library_->Loaded()) << library_->LoadError();
    reading_.settings.phoneNumber = "105";  // the modem never says anything
    reading_.settings.connectTimeout = 600;
    // Pressed before the library even waits for the call: it hangs up until the dial is over.
    reading_.environment.stopEvent =
        std::make_shared<platform::Event>(platform::Event::Kind::kManualReset, true);
    const Outcome outcome = reading_.Run();  // long before the ten minutes
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.text, kStopped);
    EXPECT_EQ(library_->ModemGetCommHandle(kModemPort), 0u);
}

class ModemListReading : public ModemReading {
  protected:
    ModemListReading() : ModemReading(45) {}
};

TEST_F(ModemListReading, ALineThatFailsTwiceIsReadAfterTheCallIsBackInStep) {
    ASSERT_TRUE(library_->Loaded()) << library_->LoadError();
    reading_.listName = "hc\\modem.opr";
    WriteText(reading_.Folder() / "hc" / "modem.opr",
              {"HO_START 255 0 53 1000001 0", "R_NUMBER 53 0 0 8 230 2 53 1000000 0",
               "HO_STOP 255 1 53 1000001 0"});
    reading_.stopWhen = [this](const reading::ReadProgress& p) {
        if (p.statusText == kListReading && p.position == 1) {
            for (int i = 0; i < 2; ++i) {
                hc_.Device(1).InjectFault({FaultKind::LostAnswer, 0, 1, 0});
            }
        }
        return false;
    };
    const Outcome outcome = reading_.Run();
    ASSERT_TRUE(outcome.succeeded) << outcome.text;
    EXPECT_EQ(reading_.versions, std::vector<char>{45});
    EXPECT_EQ(hc_.Device(1).Stats().faultsApplied, 2u);
    // The call was brought back into step with the probe read at 0x1020.
    const Bytes probe = {0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C};
    const Bytes sent = modem_->Stats().toPeer;
    EXPECT_NE(std::search(sent.begin(), sent.end(), probe.begin(), probe.end()), sent.end());

    emulators::HcDevice twin(config_);
    emulators::hctest::Client client(twin);
    const Bytes answer = client.Command({53}, 9);
    Bytes expected = {0x00, 0x11, 0x05, 255, 0, 53,   65,   0,    0,   0, 0,  0,  0, 0,
                      0,    0,    0,    0,   0, 0x00, 0x0E, 0x05, 230, 2, 53, 64, 0};
    expected.insert(expected.end(), answer.begin() + 1, answer.end());
    const Bytes stop = {0x00, 0x11, 0x05, 255, 1, 53, 65, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    expected.insert(expected.end(), stop.begin(), stop.end());
    EXPECT_EQ(FileBytes(reading_.DataFile()), expected);
}

}  // namespace
