// A Hayes AT modem on a pseudo-terminal. The client (the workstation's line layer) opens the
// slave side as its COM port; a dialled number leads, by a per-number plan, to a connection
// with a peer (a heat-calculator line, any serial device, or an echo) or to BUSY, NO ANSWER,
// NO CARRIER, NO DIALTONE, ERROR or silence. Tests can ring the line, hang up from the far end
// and switch the modem off.
//
// Like a real modem it keeps a stored profile (restored at power-on and by ATZ), may take its
// time to reset, may refuse commands it does not know, and sees DTR the POSIX way: a client that
// sets its line speed to B0 lowers DTR (the master side reads the slave's termios).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace emulators {

enum class DialOutcome { Connect, Busy, NoAnswer, NoCarrier, NoDialTone, Error, Silence };

// Where a connection leads: "echo" sends every byte back; anything else is the path of a
// serial device (e.g. an HcLine's slave) that the modem opens for the call and closes after it.
inline constexpr const char* kEchoPeer = "echo";

struct DialPlan {
    DialOutcome outcome = DialOutcome::Connect;
    unsigned rate = 9600;    // the rate in CONNECT
    unsigned delayMs = 100;  // from the dial command to the result
    std::string peer;        // empty: the modem's default peer
};

enum class CommandFault {
    None,
    Silent,   // hears commands but answers nothing
    Garbage,  // answers every command line with noise instead of a result
};

struct ModemOptions {
    std::map<std::string, DialPlan> numbers;  // by the number as dialled (T/P and blanks dropped)
    DialPlan otherNumbers;                    // every number not listed
    std::string defaultPeer = kEchoPeer;
    unsigned guardMs = 1000;  // escape guard time (S12)
    unsigned answerDelayMs = 100;
    unsigned answerRate = 9600;
    CommandFault fault = CommandFault::None;
    // Stored profile: settings as AT commands without "AT" ("V0", "Q1E1", "S2=255", "W1",
    // "&D0"), applied over the factory settings at power-on and by ATZ. Factory: E1 V1 Q0 W2
    // &C1 &D2 S2=43. W0 reports the port rate in CONNECT, W1 adds CARRIER and PROTOCOL lines,
    // W2 reports the carrier rate; S2 above 127 disables the "+++" escape.
    std::string profile;
    unsigned resetDelayMs = 0;         // ATZ and AT&F take this long; input is ignored meanwhile
    std::vector<std::string> refused;  // commands answered ERROR, e.g. "X4", "&K3"
    bool dtrWired = true;              // false: a cable without DTR, the modem never sees it drop
    std::string linkPath;              // when set, a symbolic link to the slave side is made here
    // One line per event ("rx ATD101", "tx CONNECT 9600", "ring 2"); called on the modem's
    // thread; must not call back into the modem.
    std::function<void(const std::string&)> trace;
};

struct ModemStats {
    std::vector<std::string> commands;  // command lines as received, without the CR
    std::vector<std::string> dialled;   // numbers of the dial commands
    unsigned ringsSent = 0;
    std::vector<unsigned> ringsBeforeAnswer;  // for each ATA while ringing: the rings sent so far
    unsigned connects = 0;
    unsigned escapes = 0;  // "+++" sequences recognised
    unsigned hangUps = 0;  // calls ended by ATH
    unsigned farEndHangUps = 0;
    unsigned dtrDrops = 0;    // DTR on -> off, as seen on the line
    unsigned dtrHangUps = 0;  // calls ended by a DTR drop
    unsigned resets = 0;      // ATZ and AT&F
    bool online = false;      // a call is up (data mode or escaped to command mode)
    bool switchedOff = false;
    std::vector<std::uint8_t> toPeer;  // data bytes passed to peers, all calls in order
};

class ModemEmulator {
  public:
    // Throws std::runtime_error when the pseudo-terminal or the link cannot be made.
    explicit ModemEmulator(ModemOptions options = {});
    ~ModemEmulator();
    ModemEmulator(const ModemEmulator&) = delete;
    ModemEmulator& operator=(const ModemEmulator&) = delete;

    const std::string& SlavePath() const;

    // An incoming call: `count` RINGs, `periodMs` apart, the first at once; answered with ATA
    // it connects to `peer` (empty: the default peer). Ignored while a call is up.
    void Ring(unsigned count, unsigned periodMs, std::string peer = "");
    // The far end hangs up: NO CARRIER, back to command mode.
    void HangUpFarEnd();
    // Power off: the pseudo-terminal is closed, so the client's port hangs up.
    void SwitchOff();
    void SetFault(CommandFault fault);
    ModemStats Stats() const;
    // The DCD pin as the modem drives it (&C1: the carrier; &C0: always on).
    bool CarrierDetect() const;
    // Idempotent; the destructor stops too.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace emulators
