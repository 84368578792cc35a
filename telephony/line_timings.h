// How long the line layer waits for its modems, and how it reads the port's modem lines. The
// defaults suit real modems; tests shorten them.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace telephony {

struct LineTimings {
    using ms = std::chrono::milliseconds;
    ms commandReply{2000};  // OK to an initialisation command or to ATH
    ms resetReply{5000};    // OK to ATZ: a modem may take seconds, or (Q1) never answer
    ms dtrDrop{1000};       // DTR held low to hang up
    int probeAttempts = 2;  // tries of the first "AT"
    // Silence before and after "+++"; a little longer than the modem's own guard time (S12).
    ms escapeGuard{1100};
    ms escapeReply{2500};    // after the guard time, for the OK of the escape
    ms ringGap{8000};        // no RING for this long: the caller gave up
    ms dialResult{120000};   // ATD without any result
    ms answerResult{60000};  // ATA without any result
    ms abortReply{3000};     // result after a dial or answer was cut short
    ms carrierPoll{250};     // how often DCD is looked at in data mode (real ports only)
    // The port's modem lines (TIOCM_* bits) or nullopt where it has none (a pseudo-terminal).
    // Empty: TIOCMGET. Tests wire an emulator's DCD pin in here, as a cable would.
    std::function<std::optional<int>(int fd)> modemLines;
};

LineTimings GetLineTimings();
void SetLineTimings(const LineTimings& timings);

}  // namespace telephony
