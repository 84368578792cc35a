// The four modem library calls the link layer makes when it talks through a modem call.
// The modem library provides the real ones; until a program installs them, every call fails.
#pragma once

#include <cstdint>

namespace protocol {

class ModemExports {
  public:
    virtual ~ModemExports() = default;
    // Framed read of `length` bytes of device memory; returns length on success, 0 on failure.
    virtual std::uint32_t ModemReadHC(std::uint32_t slot, std::uint32_t abonent,
                                      std::uint32_t address, std::uint32_t length,
                                      std::uint8_t* buffer) = 0;
    // Framed write; returns length when the device acknowledged, 0 otherwise.
    virtual std::uint32_t ModemWriteHC(std::uint32_t slot, std::uint32_t abonent,
                                       std::uint32_t address, std::uint32_t length,
                                       const std::uint8_t* buffer) = 0;
    // Raw read; returns the number of bytes read.
    virtual std::uint32_t ModemRead(std::uint32_t slot, std::uint32_t length,
                                    std::uint8_t* buffer) = 0;
    // Raw write; returns the number of bytes written.
    virtual std::uint32_t ModemWrite(std::uint32_t slot, std::uint32_t length,
                                     const std::uint8_t* buffer) = 0;
};

// What CTV540 uses unless a caller passes its own.
ModemExports& DefaultModemExports();
void SetDefaultModemExports(ModemExports* exports);  // nullptr restores the failing stub

}  // namespace protocol
