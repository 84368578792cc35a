#include "protocol/modem_exports.h"

#include <atomic>

namespace protocol {
namespace {

class NoModem final : public ModemExports {
  public:
    std::uint32_t ModemReadHC(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint8_t*) override {
        return 0;
    }
    std::uint32_t ModemWriteHC(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               const std::uint8_t*) override {
        return 0;
    }
    std::uint32_t ModemRead(std::uint32_t, std::uint32_t, std::uint8_t*) override { return 0; }
    std::uint32_t ModemWrite(std::uint32_t, std::uint32_t, const std::uint8_t*) override {
        return 0;
    }
};

NoModem noModem;
std::atomic<ModemExports*> installed{nullptr};

}  // namespace

ModemExports& DefaultModemExports() {
    ModemExports* exports = installed.load();
    if (exports != nullptr) {
        return *exports;
    }
    return noModem;
}

void SetDefaultModemExports(ModemExports* exports) {
    installed.store(exports);
}

}  // namespace protocol
