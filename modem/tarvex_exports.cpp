#include "modem/tarvex_exports.h"

#include "modem/tarvex.h"

namespace modem {

std::uint32_t TarvexExports::ModemReadHC(std::uint32_t slot, std::uint32_t abonent,
                                         std::uint32_t address, std::uint32_t length,
                                         std::uint8_t* buffer) {
    return ::ModemReadHC(slot, abonent, address, length, buffer);
}

std::uint32_t TarvexExports::ModemWriteHC(std::uint32_t slot, std::uint32_t abonent,
                                          std::uint32_t address, std::uint32_t length,
                                          const std::uint8_t* buffer) {
    return ::ModemWriteHC(slot, abonent, address, length, buffer);
}

std::uint32_t TarvexExports::ModemRead(std::uint32_t slot, std::uint32_t length,
                                       std::uint8_t* buffer) {
    return ::ModemRead(slot, length, buffer);
}

std::uint32_t TarvexExports::ModemWrite(std::uint32_t slot, std::uint32_t length,
                                        const std::uint8_t* buffer) {
    return ::ModemWrite(slot, length, buffer);
}

TarvexExports& TarvexModemExports() {
    static TarvexExports exports;
    return exports;
}

}  // namespace modem
