// The real libtarvex.so as a program loads it: what it exports, and that loading and unloading
// start and end its threads without leaving descriptors behind.
#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "modem/tarvex.h"
#include "tests/support/process.h"
#include "tests/telephony/emulated_modem.h"

namespace {

const std::set<std::string> kExports = {
    "ModemConnect",
    "ModemDisconnect",
    "ModemRead",
    "ModemWrite",
    "ModemReadHC",
    "ModemWriteHC",
    "ModemOpenHistoryFile",
    "ModemCloseHistoryFile",
    "ModemGetStatistics",
    "ModemGetStatisticsAll",
    "ModemGetVersion",
    "ModemGetStatus",
    "ModemAnswerModeOn",
    "ModemAnswerModeOff",
    "ModemConnectAnswer",
    "ModemGetCommHandle",
};

template <typename T>
T ReadAt(const std::string& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    }
    return value;
}

// Names of the global symbols that the file's dynamic symbol table defines.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto header = ReadAt<Elf64_Ehdr>(bytes, 0);
    std::set<std::string> names;
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        const auto section = ReadAt<Elf64_Shdr>(bytes, header.e_shoff + i * sizeof(Elf64_Shdr));
        if (section.sh_type != SHT_DYNSYM) {
            continue;
        }
        const auto strings =
            ReadAt<Elf64_Shdr>(bytes, header.e_shoff + section.sh_link * sizeof(Elf64_Shdr));
        for (std::size_t s = 0; s < section.sh_size / sizeof(Elf64_Sym); ++s) {
            const auto symbol = ReadAt<Elf64_Sym>(bytes, section.sh_offset + s * sizeof(Elf64_Sym));
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK)) {
                names.insert(bytes.c_str() + strings.sh_offset + symbol.st_name);
            }
        }
    }
    return names;
}

std::size_t Entries(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

std::size_t Threads() {
    return Entries("/proc/self/task");
}
std::size_t Descriptors() {
    return Entries("/proc/self/fd");
}

// The library loaded by name, its functions looked up.
class Loaded {
  public:
    Loaded() : handle_(::dlopen(TARVEX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~Loaded() { Close(); }
    bool Ok() const { return handle_ != nullptr; }
    void Close() {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
            handle_ = nullptr;
        }
    }
    template <typename F>
    F* Function(const char* name) {
        return reinterpret_cast<F*>(::dlsym(handle_, name));
    }

  private:
    void* handle_;
};

TEST(TarvexLibrary, ExportsTheSixteenFunctionsAndNothingElse) {
    EXPECT_EQ(DefinedDynamicSymbols(TARVEX_LIBRARY_PATH), kExports);
    Loaded library;
    ASSERT_TRUE(library.Ok()) << ::dlerror();
    for (const std::string& name : kExports) {
        EXPECT_NE(library.Function<void()>(name.c_str()), nullptr) << name;
    }
    EXPECT_EQ(library.Function<void()>("_ZN6tarvex10TheLibraryEv"), nullptr);
}

TEST(TarvexLibrary, LoadingStartsItsThreadAndUnloadingEndsIt) {
    // A sanitizer's runtime starts a helper thread of its own with the first thread of the
    // process; start one first, so the counts below are the library's alone.
    std::thread([] {}).join();
    const std::size_t threads = Threads();
    const std::size_t descriptors = Descriptors();
    for (int round = 0; round < 3; ++round) {
        Loaded library;
        ASSERT_TRUE(library.Ok()) << ::dlerror();
        EXPECT_EQ(Threads(), threads + 1);
        auto* version = library.Function<decltype(ModemGetVersion)>("ModemGetVersion");
        ASSERT_NE(version, nullptr);
        EXPECT_STREQ(version(),
                     "\xC1\xE8\xE1\xEB\xE8\xEE\xF2\xE5\xEA\xE0 \"tarvex\" "
                     "(\xE2\xE5\xF0\xF1\xE8\xFF 1.1)");
        library.Close();
        EXPECT_TRUE(
            testsupport::WaitFor([&] { return Threads() == threads; }, std::chrono::seconds(10)));
        EXPECT_EQ(Descriptors(), descriptors);
    }
}

TEST(TarvexLibrary, UnloadingWithACallUpHangsUpAndFreesThePort) {
    emulators::ModemOptions options;
    options.guardMs = 100;
    options.numbers["104"] =
        emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 10, emulators::kEchoPeer};
    testsupport::EmulatedModem modem(3, options);
    const std::size_t threads = Threads();
    const std::size_t descriptors = Descriptors();
    for (int round = 0; round < 2; ++round) {
        Loaded library;
        ASSERT_TRUE(library.Ok()) << ::dlerror();
        auto* connect = library.Function<decltype(ModemConnect)>("ModemConnect");
        auto* handle = library.Function<decltype(ModemGetCommHandle)>("ModemGetCommHandle");
        ASSERT_EQ(connect(3, "104", 9600, 56000, 30, 1), 1u);  // the port was free again
        EXPECT_NE(handle(3), 0u);
        library.Close();
        EXPECT_TRUE(
            testsupport::WaitFor([&] { return Threads() == threads; }, std::chrono::seconds(10)));
        EXPECT_EQ(Descriptors(), descriptors);
        EXPECT_TRUE(
            testsupport::WaitFor([&] { return !modem->Stats().online; }, std::chrono::seconds(10)));
    }
    EXPECT_EQ(modem->Stats().dtrHangUps, 2u);
}

}  // namespace
