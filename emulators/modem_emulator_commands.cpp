// The modem emulator's command interpreter: AT command lines, the stored profile that power-on
// and ATZ restore, refused commands, and DTR as the client's termios speed.
#include <termios.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "emulators/modem_emulator.h"
#include "emulators/modem_emulator_state.h"

namespace emulators {

void ModemEmulator::State::ApplyProfile() {
    echo = true;
    verbose = true;
    quiet = false;
    reportMode = 2;
    carrierMode = 1;
    dtrMode = 2;
    std::fill(std::begin(registers), std::end(registers), 0u);
    registers[2] = '+';
    registers[12] = options.guardMs / 20;
    std::string upper;
    for (char c : options.profile) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    applyingProfile = true;
    Interpret(upper, upper);
    applyingProfile = false;
}

// ATZ and AT&F: the profile comes back; a slow modem answers only after its reset.
void ModemEmulator::State::Reset() {
    ApplyProfile();
    {
        std::lock_guard lock(mutex);
        ++stats.resets;
    }
    if (options.resetDelayMs == 0) {
        SendResult(0, "OK");
        return;
    }
    resetDoneAt = Clock::now() + std::chrono::milliseconds(options.resetDelayMs);
}

unsigned ModemEmulator::State::DteRate() const {
    static const std::pair<speed_t, unsigned> kRates[] = {
        {B300, 300},       {B1200, 1200},     {B2400, 2400},     {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    termios tio{};
    if (master < 0 || tcgetattr(master, &tio) != 0) {
        return 0;
    }
    const speed_t speed = cfgetospeed(&tio);
    for (const auto& [code, rate] : kRates) {
        if (code == speed) {
            return rate;
        }
    }
    return 0;
}

// DTR is the client's: a line speed of B0 is how termios lowers it.
void ModemEmulator::State::WatchDtr() {
    termios tio{};
    if (!options.dtrWired || master < 0 || tcgetattr(master, &tio) != 0) {
        return;
    }
    const bool on = cfgetospeed(&tio) != B0;
    if (on == dtrOn) {
        return;
    }
    dtrOn = on;
    Trace(on ? "DTR on" : "DTR off");
    if (!on) {
        OnDtrDrop();
        // Counted once handled, so whoever waits on the count sees the outcome with it.
        std::lock_guard lock(mutex);
        ++stats.dtrDrops;
    }
}

void ModemEmulator::State::OnDtrDrop() {
    if (dtrMode == 0) {
        return;
    }
    if (dtrMode == 1) {
        if (mode == Mode::Online) {
            mode = Mode::OnlineCommand;
            SendResult(0, "OK");
        }
        return;
    }
    const bool hadCall = mode == Mode::Online || mode == Mode::OnlineCommand;
    const bool calling = mode == Mode::Dialing || mode == Mode::Answering;
    if (hadCall) {
        EndCall();
        std::lock_guard lock(mutex);
        ++stats.dtrHangUps;
    }
    resultAt.reset();
    mode = Mode::Command;
    commandLine.clear();
    if (hadCall || calling) {
        SendResult(3, "NO CARRIER");
    }
    if (dtrMode == 3) {
        ApplyProfile();
    }
}

void ModemEmulator::State::ExecuteLine(const std::string& line) {
    std::string upper;
    for (char c : line) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::size_t start = upper.find_first_not_of(' ');
    if (start == std::string::npos || upper.compare(start, 2, "AT") != 0) {
        return;  // not a command: a modem ignores it
    }
    {
        std::lock_guard lock(mutex);
        stats.commands.push_back(line.substr(start));
    }
    Trace("rx " + line.substr(start));
    CommandFault currentFault;
    {
        std::lock_guard lock(mutex);
        currentFault = fault;
    }
    if (currentFault == CommandFault::Silent) {
        return;
    }
    if (currentFault == CommandFault::Garbage) {
        std::string junk;
        for (int i = 0; i < 12; ++i) {
            noise = noise * 6364136223846793005ull + 1442695040888963407ull;
            char c = static_cast<char>(0x21 + (noise >> 33) % 0x5E);
            junk += (c == 'O' || c == 'K') ? '#' : c;
        }
        SendText("\r\n" + junk + "\r\n");
        return;
    }
    Interpret(upper.substr(start + 2), line.substr(start + 2));
}

bool ModemEmulator::State::Refused(const std::string& command, std::size_t from,
                                   std::size_t to) const {
    const std::string token = command.substr(from, to - from);
    return std::find(options.refused.begin(), options.refused.end(), token) !=
           options.refused.end();
}

// The commands of one line after "AT" (`original` keeps the case, for the dial string). A
// stored profile goes through here too, with results suppressed.
void ModemEmulator::State::Interpret(const std::string& command, const std::string& original) {
    auto number = [&](std::size_t& i) {
        unsigned value = 0;
        while (i < command.size() && std::isdigit(static_cast<unsigned char>(command[i]))) {
            value = value * 10 + static_cast<unsigned>(command[i] - '0');
            ++i;
        }
        return value;
    };
    std::size_t i = 0;
    std::string information;
    while (i < command.size()) {
        const std::size_t tokenStart = i;
        const char c = command[i++];
        auto refused = [&] { return Refused(command, tokenStart, i); };
        switch (c) {
            case ' ':
                break;
            case 'E':
            case 'V':
            case 'Q':
            case 'W': {
                const unsigned value = number(i);
                if (refused()) {
                    SendResult(4, "ERROR");
                    return;
                }
                if (c == 'E') {
                    echo = value != 0;
                } else if (c == 'V') {
                    verbose = value != 0;
                } else if (c == 'Q') {
                    quiet = value != 0;
                } else {
                    reportMode = std::min(value, 2u);
                }
                break;
            }
            case 'X':
            case 'L':
            case 'M':
            case 'B':
            case 'C':
            case 'N':
            case 'Y':
                number(i);
                if (refused()) {
                    SendResult(4, "ERROR");
                    return;
                }
                break;
            case 'Z':
                number(i);
                Reset();
                return;  // the rest of the line goes with the reset
            case 'I':
                number(i);
                information += "devemu modem\r\n";
                break;
            case 'S': {
                const unsigned reg = number(i);
                if (reg >= 100) {
                    SendResult(4, "ERROR");
                    return;
                }
                if (i < command.size() && command[i] == '=') {
                    ++i;
                    registers[reg] = number(i);
                } else if (i < command.size() && command[i] == '?') {
                    ++i;
                    information += std::to_string(registers[reg]) + "\r\n";
                }
                if (refused()) {
                    SendResult(4, "ERROR");
                    return;
                }
                break;
            }
            case '&': {
                if (i >= command.size()) {
                    break;
                }
                const char which = command[i++];
                const unsigned value = number(i);
                if (refused()) {
                    SendResult(4, "ERROR");
                    return;
                }
                if (which == 'F' && !applyingProfile) {
                    Reset();
                    return;
                }
                if (which == 'C') {
                    carrierMode = value;
                } else if (which == 'D') {
                    dtrMode = std::min(value, 3u);
                }
                break;
            }
            case '+':
            case '#':
            case '%':
            case '\\':
                // Extended commands are accepted as they are, up to ';'.
                while (i < command.size() && command[i] != ';') {
                    ++i;
                }
                if (refused()) {
                    SendResult(4, "ERROR");
                    return;
                }
                if (i < command.size()) {
                    ++i;
                }
                break;
            case 'H':
                number(i);
                if (mode == Mode::OnlineCommand) {
                    EndCall();
                    std::lock_guard lock(mutex);
                    ++stats.hangUps;
                }
                break;
            case 'O':
                if (mode != Mode::OnlineCommand) {
                    SendResult(4, "ERROR");
                    return;
                }
                mode = Mode::Online;
                lastDteByte = Clock::now();
                SendResult(1, "CONNECT " + std::to_string(connectedRate));
                return;
            case 'A':
                if (mode == Mode::OnlineCommand || applyingProfile) {
                    SendResult(4, "ERROR");
                    return;
                }
                Answer();
                return;
            case 'D':
                if (mode == Mode::OnlineCommand || applyingProfile) {
                    SendResult(4, "ERROR");
                    return;
                }
                Dial(original.substr(i));
                return;
            default:
                SendResult(4, "ERROR");
                return;
        }
    }
    if (!information.empty() && !quiet) {
        SendText("\r\n" + information);
    }
    SendResult(0, "OK");
}

void ModemEmulator::State::OnCommandByte(std::uint8_t byte) {
    CommandFault currentFault;
    {
        std::lock_guard lock(mutex);
        currentFault = fault;
    }
    if (echo && currentFault == CommandFault::None) {
        Write(&byte, 1);
    }
    if (byte == '\r') {
        std::string line;
        line.swap(commandLine);
        ExecuteLine(line);
        return;
    }
    if (byte == '\n') {
        return;
    }
    if (byte == 8 || byte == 127) {
        if (!commandLine.empty()) {
            commandLine.pop_back();
        }
        return;
    }
    if (commandLine.size() < 256) {
        commandLine += static_cast<char>(byte);
    }
}

}  // namespace emulators
