// A stand-in for the modem library that hands frames straight to an emulated device, so the
// link layer can be tested in-process and quickly.
#pragma once

#include <algorithm>

#include "emulators/hc_device.h"
#include "protocol/frames.h"
#include "protocol/modem_exports.h"
#include "protocol/utv540.h"

namespace testsupport {

class DirectModem final : public protocol::ModemExports {
  public:
    explicit DirectModem(emulators::HcDevice& device) : device_(device) {}
    std::uint32_t ModemReadHC(std::uint32_t, std::uint32_t abonent, std::uint32_t address,
                              std::uint32_t length, std::uint8_t* buffer) override {
        ++reads;
        auto answer = device_.HandleFrame(protocol::BuildReadRequest(
            static_cast<std::uint8_t>(abonent), static_cast<std::uint16_t>(address), length));
        if (!answer || !protocol::IsValidReadAnswer(*answer, length)) {
            return 0;
        }
        std::copy(answer->begin() + 3, answer->end() - 1, buffer);
        return length;
    }
    std::uint32_t ModemWriteHC(std::uint32_t, std::uint32_t abonent, std::uint32_t address,
                               std::uint32_t length, const std::uint8_t* buffer) override {
        auto answer = device_.HandleFrame(protocol::BuildWriteRequest(
            static_cast<std::uint8_t>(abonent), static_cast<std::uint16_t>(address),
            std::span(buffer, length)));
        return answer && protocol::IsWriteAcknowledgement(*answer) ? length : 0;
    }
    std::uint32_t ModemRead(std::uint32_t, std::uint32_t, std::uint8_t*) override {
        ++drains;
        return 0;
    }
    int reads = 0;
    int drains = 0;

  private:
    emulators::HcDevice& device_;
};

// A link object (CTV540 or a subclass) on a DirectModem, with waits shortened.
template <class Link = protocol::CTV540>
std::unique_ptr<Link> DirectLink(DirectModem& modem, std::uint8_t abonent = 1) {
    auto link = std::make_unique<Link>(abonent, protocol::Connection{nullptr, 1},
                                       platform::DeviceControl{}, true, 1, 3, 0);
    link->SetModemExports(&modem);
    protocol::LinkWaits waits;
    waits.recoveryWaitMs = 0;
    waits.mailboxPollMs = 0;
    waits.addressPauseMs = 0;
    waits.commandPauseMs = 0;
    link->SetWaits(waits);
    return link;
}

}  // namespace testsupport
