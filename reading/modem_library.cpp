#include "reading/modem_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <new>
#include <utility>

namespace reading {
namespace {

using ConnectFunction = std::uint32_t(std::uint32_t, const char*, std::uint32_t, std::uint32_t,
                                      std::uint32_t, std::uint32_t);
using SlotFunction = std::uint32_t(std::uint32_t);
using HandleFunction = std::uintptr_t(std::uint32_t);
using TransferFunction = std::uint32_t(std::uint32_t, std::uint32_t, std::uint8_t*);
using ConstTransferFunction = std::uint32_t(std::uint32_t, std::uint32_t, const std::uint8_t*);
using FramedReadFunction = std::uint32_t(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                         std::uint8_t*);
using FramedWriteFunction = std::uint32_t(std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, const std::uint8_t*);

struct Functions {
    ConnectFunction* connect = nullptr;
    SlotFunction* disconnect = nullptr;
    HandleFunction* commHandle = nullptr;
    TransferFunction* read = nullptr;
    ConstTransferFunction* write = nullptr;
    FramedReadFunction* readHC = nullptr;
    FramedWriteFunction* writeHC = nullptr;
};

// The link layer's four calls on the loaded functions; every call fails while one is missing.
class LoadedExports final : public protocol::ModemExports {
  public:
    explicit LoadedExports(const Functions& functions) : f_(functions) {}
    std::uint32_t ModemReadHC(std::uint32_t slot, std::uint32_t abonent, std::uint32_t address,
                              std::uint32_t length, std::uint8_t* buffer) override {
        return f_.readHC ? f_.readHC(slot, abonent, address, length, buffer) : 0;
    }
    std::uint32_t ModemWriteHC(std::uint32_t slot, std::uint32_t abonent, std::uint32_t address,
                               std::uint32_t length, const std::uint8_t* buffer) override {
        return f_.writeHC ? f_.writeHC(slot, abonent, address, length, buffer) : 0;
    }
    std::uint32_t ModemRead(std::uint32_t slot, std::uint32_t length,
                            std::uint8_t* buffer) override {
        return f_.read ? f_.read(slot, length, buffer) : 0;
    }
    std::uint32_t ModemWrite(std::uint32_t slot, std::uint32_t length,
                             const std::uint8_t* buffer) override {
        return f_.write ? f_.write(slot, length, buffer) : 0;
    }

  private:
    const Functions& f_;
};

class Tarvex final : public ModemLibrary {
  public:
    Tarvex(void* handle, Functions functions, std::string error)
        : handle_(handle), f_(functions), error_(std::move(error)), exports_(f_) {}
    ~Tarvex() override {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
        }
    }
    Tarvex(const Tarvex&) = delete;
    Tarvex& operator=(const Tarvex&) = delete;

    bool Loaded() const override { return handle_ != nullptr; }
    const std::string& LoadError() const override { return error_; }
    std::uint32_t ModemConnect(std::uint32_t slot, const std::string& phoneNumber,
                               std::uint32_t minRate, std::uint32_t maxRate,
                               std::uint32_t timeoutSeconds, std::uint32_t attempts) override {
        return f_.connect ? f_.connect(slot, phoneNumber.c_str(), minRate, maxRate, timeoutSeconds,
                                       attempts)
                          : 0;
    }
    std::uintptr_t ModemGetCommHandle(std::uint32_t slot) override {
        return f_.commHandle ? f_.commHandle(slot) : 0;
    }
    std::uint32_t ModemDisconnect(std::uint32_t slot) override {
        return f_.disconnect ? f_.disconnect(slot) : 0;
    }
    protocol::ModemExports& Exports() override { return exports_; }

  private:
    void* handle_;
    Functions f_;
    std::string error_;
    LoadedExports exports_;
};

// The folder of the running program, empty when it cannot be told.
std::filesystem::path ProgramFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

std::string DlError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "unknown error";
}

template <typename F>
bool Find(void* handle, const char* name, F*& function, std::string& missing) {
    function = reinterpret_cast<F*>(::dlsym(handle, name));
    if (function == nullptr) {
        missing += missing.empty() ? "missing exports:" : "";
        missing += std::string(" ") + name;
    }
    return function != nullptr;
}

std::unique_ptr<ModemLibrary> Load(const std::string& name) {
    std::string error;
    void* handle = nullptr;
    // Beside the program first, so an installed package finds its own copy; a name with a
    // folder is taken as it is.
    const std::filesystem::path folder = ProgramFolder();
    if (name.find('/') == std::string::npos && !folder.empty()) {
        handle = ::dlopen((folder / name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) {
        handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) {
        return std::make_unique<Tarvex>(nullptr, Functions{}, DlError());
    }
    Functions f;
    bool complete = Find(handle, "ModemConnect", f.connect, error);
    complete = Find(handle, "ModemDisconnect", f.disconnect, error) && complete;
    complete = Find(handle, "ModemGetCommHandle", f.commHandle, error) && complete;
    complete = Find(handle, "ModemRead", f.read, error) && complete;
    complete = Find(handle, "ModemWrite", f.write, error) && complete;
    complete = Find(handle, "ModemReadHC", f.readHC, error) && complete;
    complete = Find(handle, "ModemWriteHC", f.writeHC, error) && complete;
    if (!complete) {
        ::dlclose(handle);
        return std::make_unique<Tarvex>(nullptr, Functions{}, name + ": " + error);
    }
    return std::make_unique<Tarvex>(handle, f, std::string());
}

}  // namespace

std::unique_ptr<ModemLibrary> LoadTarvex(const std::string& name) {
    try {
        return Load(name);
    } catch (const std::exception&) {
        // Out of memory for a few strings: without the library the program still runs.
        try {
            return std::make_unique<Tarvex>(nullptr, Functions{}, "cannot be loaded");
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
}

}  // namespace reading
