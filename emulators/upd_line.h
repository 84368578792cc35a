// The data transfer device (УПД) on a pseudo-terminal: a catalog of archives handed over
// 16 bytes at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulators/hc_device.h"

namespace emulators {

struct UpdArchive {
    std::string name;                 // device bytes (1251), at most 16; 16 = no zero after it
    std::vector<std::uint8_t> bytes;  // the archive; a tail under 16 bytes is padded with zeros
};

struct UpdFaults {
    bool silent = false;                         // answers nothing at all
    std::optional<unsigned> badEntry;            // catalog entry n (from 1): wrong checksum
    std::optional<unsigned> badBlock;            // block b (from 1) of any archive: wrong checksum
    std::optional<unsigned> shortBlock;          // block b answered with only 10 of its 20 bytes
    std::optional<unsigned> silentFromBlock;     // block b and every later request: no answer
    bool noAcknowledgement = false;              // the open command is not answered
    std::optional<unsigned> garbageBeforeBlock;  // block b comes after a few stray bytes
    std::optional<unsigned> lineGoneAtBlock;     // the request of block b: the line disappears
};

struct UpdLineOptions {
    unsigned baud = 0;            // pace 12 bits a byte at this rate; 0: at the rate the client set
    unsigned gapTimeoutMs = 250;  // a pause this long inside a 5-byte command discards it
    std::string linkPath;         // symlink to the slave when set
    // Called from the line's thread with one line per event ("rx ...", "tx ...", "drop ...").
    // Must not call back into the line.
    std::function<void(const std::string&)> trace;
};

struct UpdStats {
    unsigned opens = 0, entriesSent = 0, endOfListSent = 0, blocksSent = 0;
    unsigned commandsDiscarded = 0;  // bad checksum, unknown letter, broken by a gap
    unsigned requests = 0;           // whole commands received
};

class UpdLine {
  public:
    // Throws std::invalid_argument for a name longer than 16 bytes, std::runtime_error when the
    // pseudo-terminal or the link cannot be made.
    UpdLine(std::vector<UpdArchive> archives, UpdFaults faults = {}, UpdLineOptions options = {});
    ~UpdLine();  // stops the thread, closes the pseudo-terminal, removes the link
    UpdLine(const UpdLine&) = delete;
    UpdLine& operator=(const UpdLine&) = delete;

    const std::string& SlavePath() const;
    UpdStats Stats() const;
    // Idempotent; prompt even in the middle of a paced answer.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// An archive as the УПД holds it after reading an emulated version-60 heat calculator:
// MakeUpdDump(HcDevice(config)) padded with zeros to whole blocks.
UpdArchive MakeUpdArchive(std::string name, const HcConfig& device);

}  // namespace emulators
