// The link layer on the modem transport, through the real libtarvex.so: a heat calculator
// behind a modem reads like one on a COM port.
#include <gtest/gtest.h>

#include "emulators/hc_line.h"
#include "modem/tarvex.h"
#include "modem/tarvex_exports.h"
#include "platform/codepage.h"
#include "protocol/modem_link.h"
#include "protocol/utv540.h"
#include "tests/support/emulated_port.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"
#include "tests/telephony/emulated_modem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSlot = 3;

class ModemTransportTest : public ::testing::Test {
  protected:
    ModemTransportTest() : hc_({testsupport::Device(1)}), modem_(3, Options(hc_.SlavePath())) {
        protocol::SetDefaultModemExports(&modem::TarvexModemExports());
        history_ = scratch_.Path() / "modem.log";
    }
    ~ModemTransportTest() override {
        ModemDisconnect(kSlot);
        ModemCloseHistoryFile(kSlot);
        protocol::SetDefaultModemExports(nullptr);
    }
    static emulators::ModemOptions Options(const std::string& hcPath) {
        emulators::ModemOptions options;  // the library's own waits: a real guard time
        options.guardMs = 200;
        options.numbers["101"] =
            emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, hcPath};
        return options;
    }
    std::string History() const { return platform::Cp1251ToUtf8(testsupport::FileText(history_)); }

    emulators::HcLine hc_;
    testsupport::EmulatedModem modem_;
    testsupport::ScratchFolder scratch_;
    std::filesystem::path history_;
};

TEST_F(ModemTransportTest, ConnectReadDisconnectLeavesItsHistory) {
    ASSERT_EQ(ModemOpenHistoryFile(kSlot, history_.c_str(), 1), 1u);
    ASSERT_EQ(ModemConnect(kSlot, "101", 9600, 56000, 30, 1), 1u);
    ASSERT_NE(ModemGetCommHandle(kSlot), 0u);
    std::uint8_t data[2] = {};
    ASSERT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    EXPECT_EQ(modem_->Stats().toPeer, (Bytes{0x01, 0x08, 0x02, 0x10, 0x20, 0x01, 0x3C}));
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_EQ(ModemGetCommHandle(kSlot), 0u);
    const std::string history = History();
    for (const char* part :
         {"Номер сеанса связи: ", "   номер телефона: 101\r\n\r\n",
          "Канал передачи информации открыт:\r\n   скорость соединения: 9600 бит/с\r\n\r\n",
          "Чтение массива данных:\r\n   абонент: 1\r\n   адрес:   4128\r\n   длина:   2\r\n",
          "Массив данных считан\r\n\r\n", "Канал передачи информации закрыт\r\n\r\n",
          "Количество операций чтения массива данных (успешные/все): 1/1 (100 %)\r\n",
          "Количество сеансов связи (успешные/все): "}) {
        EXPECT_NE(history.find(part), std::string::npos) << part << "\n---\n" << history;
    }
}

TEST_F(ModemTransportTest, TheLinkLayerReadsWritesAndRunsCommandsThroughTheModem) {
    ASSERT_EQ(ModemConnect(kSlot, "101", 9600, 56000, 30, 1), 1u);
    const std::uintptr_t handle = ModemGetCommHandle(kSlot);
    ASSERT_NE(handle, 0u);
    protocol::ModemLink call(kSlot, handle);
    protocol::CTV540 link(1, call, 3, 50);
    protocol::LinkWaits waits;
    waits.mailboxPollMs = 20;
    link.SetWaits(waits);
    std::vector<bool> exchanges;
    link.exchangeCallback = [&exchanges](bool ok) {
        exchanges.push_back(ok);
        return true;
    };

    std::uint8_t data[4] = {};
    ASSERT_TRUE(link.ReadMemory(0x1020, 4, data));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(data[i], hc_.Device(1).Peek(static_cast<std::uint16_t>(0x1020 + i)));
    }
    const std::uint8_t written[2] = {0x5A, 0xA5};
    ASSERT_TRUE(link.WriteMemory(0x2000, 2, written, 0));
    EXPECT_EQ(hc_.Device(1).Peek(0x2001), 0xA5);

    // The mailbox: the clock command answers status 1 and six BCD bytes.
    const std::uint8_t command[1] = {4};
    std::uint8_t answer[7] = {};
    ASSERT_TRUE(link.ExecuteCommand(1, 7, command, answer, 0));
    EXPECT_EQ(answer[0], 1);
    EXPECT_EQ(hc_.Device(1).Stats().commandLog.back(), Bytes{4});

    // A wrong answer is retried after the link's recovery, all through the modem.
    hc_.Device(1).InjectFault({emulators::FaultKind::WrongHead, 0, 1});
    ASSERT_TRUE(link.ReadMemory(0x1020, 2, data));
    EXPECT_TRUE(link.connected());
    EXPECT_NE(std::find(exchanges.begin(), exchanges.end(), false), exchanges.end());
}

}  // namespace
