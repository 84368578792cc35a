// A multi-drop serial line on a pseudo-terminal with one or more emulated heat calculators.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulators/hc_device.h"

namespace emulators {

struct LineOptions {
    // 11 bits a byte at this rate, both ways; 0: at the rate the client set on its port, as a
    // real line runs at what both ends were set to.
    unsigned baud = 0;
    // A gap this long inside a frame discards the partial frame. Above the 50 ms that the
    // address search pauses after an address byte, as a real device tolerates it.
    unsigned gapTimeoutMs = 250;
    std::string linkPath;  // when set, a symlink to the slave side is made here
    // Called from the line's thread with one line of text per event ("rx 01 08 ...",
    // "tx 00 00 ...", "drop ..."); for tracing traffic. Must not call back into the line.
    std::function<void(const std::string&)> trace;
};

struct LineStats {
    unsigned bytesReceived = 0;
    unsigned framesForeign = 0;         // complete frames for an address nobody on the line has
    unsigned partialFramesDropped = 0;  // discarded after a gap inside the frame
    unsigned framesSilenced = 0;        // discarded because their device was silent
    unsigned answersSent = 0;
    unsigned bytesSent = 0;  // every byte of the answers, garbage included
};

class HcLine {
  public:
    // Throws std::invalid_argument for an empty device list, a repeated address or an unknown
    // version, std::runtime_error when the pseudo-terminal or the link cannot be made.
    HcLine(std::vector<HcConfig> devices, LineOptions options = {});
    ~HcLine();  // stops the thread, closes the pseudo-terminal, removes the link
    HcLine(const HcLine&) = delete;
    HcLine& operator=(const HcLine&) = delete;

    // Path of the slave side, e.g. /dev/pts/7: what a client opens as its COM port.
    const std::string& SlavePath() const;
    // Throws std::out_of_range when no device on the line has the address.
    HcDevice& Device(std::uint8_t address);
    LineStats Stats() const;
    // Idempotent; returns within a few milliseconds of the thread's current wait.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace emulators
