// A heat-calculator emulator on a pseudo-terminal, reachable as a COM port of its own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "emulators/hc_line.h"
#include "tests/support/scratch_folder.h"

namespace testsupport {

class EmulatedPort {
  public:
    // Binds "COM<number>" to a new emulated line with the given devices.
    EmulatedPort(int number, std::vector<emulators::HcConfig> devices,
                 emulators::LineOptions options = {})
        : number_(number), line_(std::make_unique<emulators::HcLine>(std::move(devices), options)) {
        ::setenv(Variable().c_str(), line_->SlavePath().c_str(), 1);
    }
    ~EmulatedPort() {
        line_.reset();
        ::unsetenv(Variable().c_str());
    }
    EmulatedPort(const EmulatedPort&) = delete;
    EmulatedPort& operator=(const EmulatedPort&) = delete;

    std::string Name() const { return "COM" + std::to_string(number_); }
    emulators::HcLine& Line() { return *line_; }
    emulators::HcDevice& Device(std::uint8_t address = 1) { return line_->Device(address); }

  private:
    std::string Variable() const { return "CALVIX_COM" + std::to_string(number_); }
    int number_;
    std::unique_ptr<emulators::HcLine> line_;
};

// The line paces at the rate the reader set. A machine busy with other tests may stall the
// reader between the address byte and the rest of a request; a patient gap keeps such a stall
// from splitting the request, which would cost an attempt that a real line would not.
inline emulators::LineOptions PatientLine() {
    emulators::LineOptions options;
    options.gapTimeoutMs = 1000;
    return options;
}

inline emulators::HcConfig Device(std::uint8_t address = 1, int version = 45) {
    emulators::HcConfig config;
    config.address = address;
    config.version = version;
    config.seed = 7;
    config.clockEpoch = 1733580000;  // a fixed day, so answers do not depend on the date
    return config;
}

}  // namespace testsupport
