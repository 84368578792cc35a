// The modem library, loaded by name when the program starts. A program without it still runs;
// only the modem road then fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/modem_exports.h"

namespace reading {

class ModemLibrary {
  public:
    virtual ~ModemLibrary() = default;
    // False when the library could not be loaded; every call then fails.
    virtual bool Loaded() const = 0;
    // Why it could not be loaded (for the log), empty when loaded.
    virtual const std::string& LoadError() const = 0;

    // 1 on success, as the library answers.
    virtual std::uint32_t ModemConnect(std::uint32_t slot, const std::string& phoneNumber,
                                       std::uint32_t minRate, std::uint32_t maxRate,
                                       std::uint32_t timeoutSeconds, std::uint32_t attempts) = 0;
    // Non-zero while a call stands; the handle stays the library's.
    virtual std::uintptr_t ModemGetCommHandle(std::uint32_t slot) = 0;
    virtual std::uint32_t ModemDisconnect(std::uint32_t slot) = 0;
    // The framed and raw calls for the link layer.
    virtual protocol::ModemExports& Exports() = 0;
};

// Loads "libtarvex.so" (beside the program, then by the loader's own search; a name with a "/"
// is taken as it is); never throws. Null only when out of memory.
std::unique_ptr<ModemLibrary> LoadTarvex(const std::string& name = "libtarvex.so");

}  // namespace reading
