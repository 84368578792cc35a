// The modem library on a modem behind a serial device server (a real ser2net, RFC 2217).
#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/modem/library_fixture.h"
#include "tests/support/ser2net_server.h"

namespace {

using namespace testsupport;

class NetworkModemTest : public ModemLibraryTest {
  protected:
    NetworkModemTest() { ::setenv("CALVIX_COM3", server_.Url().c_str(), 1); }

    Ser2netServer server_{modem_->SlavePath(), Ser2netServer::Mode::kRfc2217};
};

TEST_F(NetworkModemTest, ACallReadsTheDeviceAndHangsUp) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    std::uint8_t data[2] = {};
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 2u);
    EXPECT_EQ(ModemDisconnect(kSlot), 1u);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
    EXPECT_FALSE(modem_->Stats().online);
}

TEST_F(NetworkModemTest, AServerGoneEndsTheCall) {
    ASSERT_EQ(Connect(kHeatCalculator), 1u);
    server_.Kill();
    std::uint8_t data[2] = {};
    EXPECT_EQ(ModemReadHC(kSlot, 1, 0x1020, 2, data), 0u);
    ModemDisconnect(kSlot);
    EXPECT_EQ(ModemGetStatus(kSlot), 0u);
}

}  // namespace
