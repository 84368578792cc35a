// The link layer on lines paced like real hardware, at the rates installations use, with the
// time-outs the port set-up prescribes for each rate: every answer arrives a byte at a time.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "protocol/serial_link.h"
#include "protocol/utv540.h"
#include "tests/emulators/hc_test_client.h"
#include "tests/support/emulated_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class PacedLink : public testing::TestWithParam<std::uint32_t> {};

std::string RateName(const testing::TestParamInfo<std::uint32_t>& rate) {
    return std::to_string(rate.param) + "Bd";
}

INSTANTIATE_TEST_SUITE_P(Rates, PacedLink, testing::Values(1200u, 2400u, 9600u, 38400u), RateName);

TEST_P(PacedLink, LongAndShortAnswersArriveWhole) {
    // Two devices on one multi-drop line: a version 45 (92-byte hourly answers) and a
    // version 53 (97-byte answers of the 180-day archive).
    emulators::HcConfig hourly = testsupport::Device(1, 45);
    emulators::HcConfig days = testsupport::Device(2, 53);
    testsupport::EmulatedPort emulated(4, {hourly, days}, testsupport::PatientLine());
    emulators::HcDevice hourlyTwin(hourly);
    emulators::HcDevice daysTwin(days);

    platform::DeviceControl dcb;
    auto port = protocol::OpenDevicePort(emulated.Name(), GetParam(), dcb);
    ASSERT_TRUE(port);
    protocol::SerialLink line(*port, dcb);
    protocol::CTV540 first(1, line, 3, 50);
    protocol::CTV540 second(2, line, 3, 50);
    int failedAttempts = 0;
    for (protocol::CTV540* link : {&first, &second}) {
        link->exchangeCallback = [&failedAttempts](bool ok) {
            failedAttempts += ok ? 0 : 1;
            return true;
        };
    }

    std::uint8_t one = 0;
    ASSERT_TRUE(first.ReadMemory(0x0304, 1, &one));
    EXPECT_EQ(one, emulated.Device(1).Peek(0x0304));

    Bytes whole(256);
    ASSERT_TRUE(first.ReadMemory(0x0300, 256, whole.data()));
    for (unsigned i = 0; i < whole.size(); ++i) {
        ASSERT_EQ(whole[i], emulated.Device(1).Peek(static_cast<std::uint16_t>(0x0300 + i))) << i;
    }

    const std::uint8_t newestHour[] = {16};
    Bytes hour(92);
    ASSERT_TRUE(first.ExecuteCommand(1, 92, newestHour, hour.data(), 0));
    EXPECT_EQ(hour, emulators::hctest::Client(hourlyTwin).Command({16}, 92));

    const Bytes clock = emulators::hctest::Client(daysTwin).Command({4}, 7);
    const auto plain = [](std::uint8_t bcd) {
        return static_cast<std::uint8_t>((bcd >> 4) * 10 + (bcd & 0x0F));
    };
    const std::uint8_t today[] = {34, plain(clock[6]), plain(clock[5]), plain(clock[4]), 0};
    Bytes day(97);
    ASSERT_TRUE(second.ExecuteCommand(5, 97, today, day.data(), 0));
    EXPECT_EQ(day[0], 1);
    EXPECT_EQ(day, emulators::hctest::Client(daysTwin).Command(Bytes(today, today + 5), 97));

    EXPECT_EQ(failedAttempts, 0) << "no answer may be cut short on a healthy line";
}

}  // namespace
