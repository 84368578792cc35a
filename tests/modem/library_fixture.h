// A fresh modem library per test, an emulated modem on COM3 whose numbers lead to an emulated
// heat calculator, short waits, a fake clock and the history file.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_line.h"
#include "modem/tarvex.h"
#include "modem/tarvex_internal.h"
#include "platform/codepage.h"
#include "telephony/line_timings.h"
#include "tests/support/emulated_port.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"
#include "tests/telephony/emulated_modem.h"

namespace testsupport {

// Numbers of the emulated telephone network.
inline constexpr const char* kHeatCalculator = "101";  // connects at 19200 to the heat calculator
inline constexpr const char* kBusy = "102";
inline constexpr const char* kNoAnswer = "103";
inline constexpr const char* kEcho = "104";    // connects to a peer that echoes
inline constexpr const char* kSilent = "105";  // never any result
inline constexpr const char* kNoDialTone = "106";
inline constexpr const char* kScripted = "109";  // connects to the test's own pseudo-terminal
inline constexpr std::uint32_t kSlot = 3;
// Time-outs in "seconds" of the scaled clock (one second is kSecondMs).
inline constexpr std::uint32_t kSecondMs = 100;
inline constexpr std::uint32_t kLongTimeout = 200;  // 20 s: only a failure would use it up

// A steady clock that moves only when told, and a fixed local time.
class FakeClock {
  public:
    FakeClock() {
        tarvex::internal::SetClock([this] { return ms_.load(); }, [] { return Fixed(); });
    }
    ~FakeClock() { tarvex::internal::SetClock({}, {}); }
    void Advance(std::uint32_t ms) { ms_ += ms; }
    static tarvex::LocalTime Fixed() { return {2026, 12, 6, 14, 5, 33, 250}; }
    static constexpr const char* kStamp = "14:05:33  06-12-2026\r\n";

  private:
    std::atomic<std::uint32_t> ms_{5000000};
};

// A pseudo-terminal the test talks through as the far end of a call.
class ScriptedPeer {
  public:
    ScriptedPeer() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        char name[128] = {};
        ptsname_r(master_, name, sizeof name);
        path_ = name;
        // Kept open so that the line's settings stay while the modem opens and closes it.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    ~ScriptedPeer() {
        ::close(slave_);
        ::close(master_);
    }
    const std::string& Path() const { return path_; }
    void Send(const std::vector<std::uint8_t>& bytes) {
        [[maybe_unused]] const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    }
    // Bytes the call sent to the far end, waiting for `count` of them at most `limit`.
    std::vector<std::uint8_t> Receive(std::size_t count,
                                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::vector<std::uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 50) == 1) {
                std::uint8_t buffer[256];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    bytes.insert(bytes.end(), buffer, buffer + n);
                }
            }
        }
        return bytes;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

inline emulators::HcConfig HeatCalculator(std::uint8_t address = 1) {
    return testsupport::Device(address);
}

class ModemLibraryTest : public ::testing::Test {
  protected:
    explicit ModemLibraryTest(const std::string& modemsEntry = "")
        : hc_({HeatCalculator(1), HeatCalculator(255)}),
          modem_(3, Plans(hc_.SlavePath(), peer_.Path()), modemsEntry) {
        telephony::SetLineTimings(FastLineTimings());
        tarvex::Timings timings;
        timings.secondMs = kSecondMs;
        timings.dropWaitMs = 5000;
        timings.shutdownWaitMs = 5000;
        timings.periodicCheckMs = 100;
        tarvex::internal::SetTimings(timings);
        // A fresh library, as a new process would load it.
        tarvex::internal::Unload();
        tarvex::internal::Load();
        history_ = scratch_.Path() / "modem.log";
    }
    ~ModemLibraryTest() override {
        tarvex::internal::Unload();
        tarvex::internal::Load();
        tarvex::internal::SetTimings({});
        telephony::SetLineTimings({});
    }

    static emulators::ModemOptions Plans(const std::string& hcPath, const std::string& peerPath) {
        using emulators::DialOutcome;
        using emulators::DialPlan;
        emulators::ModemOptions options = FastModemOptions();
        options.numbers[kHeatCalculator] = DialPlan{DialOutcome::Connect, 19200, 10, hcPath};
        options.numbers[kBusy] = DialPlan{DialOutcome::Busy, 0, 10, ""};
        options.numbers[kNoAnswer] = DialPlan{DialOutcome::NoAnswer, 0, 10, ""};
        options.numbers[kEcho] = DialPlan{DialOutcome::Connect, 9600, 10, emulators::kEchoPeer};
        options.numbers[kSilent] = DialPlan{DialOutcome::Silence, 0, 10, ""};
        options.numbers[kNoDialTone] = DialPlan{DialOutcome::NoDialTone, 0, 10, ""};
        options.numbers[kScripted] = DialPlan{DialOutcome::Connect, 9600, 10, peerPath};
        options.otherNumbers = DialPlan{DialOutcome::NoCarrier, 0, 10, ""};
        return options;
    }

    std::uint32_t Connect(const std::string& number, std::uint32_t slot = kSlot) {
        return ModemConnect(slot, number.c_str(), 9600, 56000, kLongTimeout, 1);
    }
    bool OpenHistory(bool detailed = true, std::uint32_t slot = kSlot) {
        return ModemOpenHistoryFile(slot, history_.c_str(), detailed ? 1 : 0) == 1;
    }
    // The history file in UTF-8, for comparing with readable texts.
    std::string History() const { return platform::Cp1251ToUtf8(FileText(history_)); }
    static std::string Utf8(const char* text) { return platform::Cp1251ToUtf8(text); }
    static tarvex::internal::SlotView View(std::uint32_t slot = kSlot) {
        tarvex::internal::SlotView view;
        tarvex::internal::ViewSlot(slot, view);
        return view;
    }

    emulators::HcLine hc_;
    ScriptedPeer peer_;
    EmulatedModem modem_;
    ScratchFolder scratch_;
    std::filesystem::path history_;
};

// Counts the occurrences of `part` in `text`.
inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

}  // namespace testsupport
