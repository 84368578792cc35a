// The emulators' side of a pseudo-terminal and the symbolic link that names it.
#pragma once

#include <termios.h>
#include <string>

namespace emulators {

struct PseudoTerminalEnds {
    int master = -1;  // non-blocking; the emulator serves it
    int slave = -1;   // kept open so clients may come and go and the raw settings stay
    std::string slavePath;
};

// Opens a master and its slave, the slave in raw mode at `speed`; std::runtime_error on failure
// (nothing is left open then).
PseudoTerminalEnds OpenPseudoTerminal(speed_t speed, bool blockingReads);

// The rate the client last set on the line (the pair shares one set of terminal settings, so
// the master sees it); 0 when the speed has no rate (B0, a hang-up).
unsigned ClientLineRate(int master);

// Points `linkPath` at `target`, replacing an old link in one step; refuses to replace anything
// that is not a link. std::runtime_error on failure.
void MakeLink(const std::string& linkPath, const std::string& target);
// Removes the link if it still points at `target` (another emulator may have taken the name).
void RemoveLink(const std::string& linkPath, const std::string& target);

[[noreturn]] void ThrowErrno(const std::string& what);

}  // namespace emulators
