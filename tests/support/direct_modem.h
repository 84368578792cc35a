// A stand-in for the modem library that hands frames straight to an emulated device, so the
// link layer can be tested in-process and quickly.
#pragma once

#include <algorithm>
#include <deque>

#include "emulators/hc_device.h"
#include "protocol/frames.h"
#include "protocol/modem_exports.h"
#include "protocol/modem_link.h"
#include "protocol/utv540.h"

namespace testsupport {

class DirectModem final : public protocol::ModemExports {
  public:
    explicit DirectModem(emulators::HcDevice& device) : device_(device), link_(1, 1, *this) {}
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
    // Raw frames: the device's answer waits in the input until it is read.
    std::uint32_t ModemWrite(std::uint32_t, std::uint32_t length,
                             const std::uint8_t* buffer) override {
        auto answer = device_.HandleFrame(std::vector<std::uint8_t>(buffer, buffer + length));
        if (answer) {
            input_.insert(input_.end(), answer->begin(), answer->end());
        }
        return length;
    }
    std::uint32_t ModemRead(std::uint32_t, std::uint32_t length, std::uint8_t* buffer) override {
        if (length == 1) {
            ++drains;
        }
        std::uint32_t n = 0;
        for (; n < length && !input_.empty(); ++n) {
            buffer[n] = input_.front();
            input_.pop_front();
        }
        return n;
    }
    // A link over this modem, as a call with a handle gives it.
    protocol::ModemLink& Link() { return link_; }

    int reads = 0;
    int drains = 0;

  private:
    emulators::HcDevice& device_;
    protocol::ModemLink link_;
    std::deque<std::uint8_t> input_;
};

// A link object (CTV540 or a subclass) on a DirectModem, with waits shortened.
template <class Link = protocol::CTV540>
std::unique_ptr<Link> DirectLink(DirectModem& modem, std::uint8_t abonent = 1) {
    auto link = std::make_unique<Link>(abonent, modem.Link(), 3, 0);
    protocol::LinkWaits waits;
    waits.recoveryWaitMs = 0;
    waits.mailboxPollMs = 0;
    waits.commandPauseMs = 0;
    link->SetWaits(waits);
    return link;
}

}  // namespace testsupport
