// An emulated modem reachable as a COM port, and short waits for the line layer, shared by the
// telephony and modem library tests.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "emulators/modem_emulator.h"
#include "telephony/line_timings.h"

namespace testsupport {

// The emulator's guard time, and the layer's, kept short so that hang-ups are quick.
inline constexpr unsigned kTestGuardMs = 40;

inline emulators::ModemOptions FastModemOptions() {
    emulators::ModemOptions options;
    options.guardMs = kTestGuardMs;
    options.answerDelayMs = 10;
    options.otherNumbers.delayMs = 10;
    return options;
}

inline telephony::LineTimings FastLineTimings() {
    using std::chrono::milliseconds;
    telephony::LineTimings timings;
    timings.commandReply = milliseconds(2000);  // a healthy modem answers at once
    timings.resetReply = milliseconds(1000);    // only a Q1 profile or a dead modem waits it out
    timings.dtrDrop = milliseconds(150);        // the emulator samples DTR every 10 ms
    timings.escapeGuard = milliseconds(kTestGuardMs * 2);
    timings.escapeReply = milliseconds(2000);
    timings.ringGap = milliseconds(1500);
    timings.abortReply = milliseconds(2000);
    return timings;
}

// Binds "COM<number>" to a new emulated modem and names it in TARVEX_MODEMS (with its rate
// when given).
class EmulatedModem {
  public:
    explicit EmulatedModem(int number, emulators::ModemOptions options = FastModemOptions(),
                           const std::string& modemsEntry = "")
        : number_(number), modem_(std::make_unique<emulators::ModemEmulator>(std::move(options))) {
        ::setenv(Variable().c_str(), modem_->SlavePath().c_str(), 1);
        const std::string entry = modemsEntry.empty() ? Name() : modemsEntry;
        ::setenv("TARVEX_MODEMS", entry.c_str(), 1);
    }
    ~EmulatedModem() {
        modem_.reset();
        ::unsetenv(Variable().c_str());
    }
    EmulatedModem(const EmulatedModem&) = delete;
    EmulatedModem& operator=(const EmulatedModem&) = delete;

    std::string Name() const { return "COM" + std::to_string(number_); }
    emulators::ModemEmulator& Modem() { return *modem_; }
    emulators::ModemEmulator* operator->() { return modem_.get(); }

  private:
    std::string Variable() const { return "CALVIX_COM" + std::to_string(number_); }
    int number_;
    std::unique_ptr<emulators::ModemEmulator> modem_;
};

}  // namespace testsupport
