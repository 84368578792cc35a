#include "reading/modem_library.h"

namespace reading {
namespace {

// Not loaded yet: every call fails.
class NoLibrary final : public ModemLibrary {
  public:
    bool Loaded() const override { return false; }
    const std::string& LoadError() const override { return error_; }
    std::uint32_t ModemConnect(std::uint32_t, const std::string&, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t) override {
        return 0;
    }
    std::uintptr_t ModemGetCommHandle(std::uint32_t) override { return 0; }
    std::uint32_t ModemDisconnect(std::uint32_t) override { return 0; }
    protocol::ModemExports& Exports() override { return protocol::DefaultModemExports(); }

  private:
    std::string error_ = "not loaded";
};

}  // namespace

std::unique_ptr<ModemLibrary> LoadTarvex(const std::string& name) {
    (void)name;
    return std::make_unique<NoLibrary>();
}

}  // namespace reading
