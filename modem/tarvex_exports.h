// The link layer's modem calls, made through libtarvex.so. A program that reads heat
// calculators through modems installs them once:
//     protocol::SetDefaultModemExports(&modem::TarvexModemExports());
#pragma once

#include "protocol/modem_exports.h"

namespace modem {

class TarvexExports final : public protocol::ModemExports {
  public:
    std::uint32_t ModemReadHC(std::uint32_t slot, std::uint32_t abonent, std::uint32_t address,
                              std::uint32_t length, std::uint8_t* buffer) override;
    std::uint32_t ModemWriteHC(std::uint32_t slot, std::uint32_t abonent, std::uint32_t address,
                               std::uint32_t length, const std::uint8_t* buffer) override;
    std::uint32_t ModemRead(std::uint32_t slot, std::uint32_t length,
                            std::uint8_t* buffer) override;
    std::uint32_t ModemWrite(std::uint32_t slot, std::uint32_t length,
                             const std::uint8_t* buffer) override;
};

TarvexExports& TarvexModemExports();

}  // namespace modem
