// An emulated data transfer device (УПД) on a pseudo-terminal, reachable as a COM port.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "emulators/upd_line.h"

namespace testsupport {

class EmulatedUpd {
  public:
    // Binds "COM<comNumber>" to a new emulated device with the given catalog.
    EmulatedUpd(int comNumber, std::vector<emulators::UpdArchive> archives,
                emulators::UpdFaults faults = {}, emulators::UpdLineOptions options = {})
        : number_(comNumber),
          line_(std::make_unique<emulators::UpdLine>(std::move(archives), faults,
                                                     std::move(options))) {
        ::setenv(Variable().c_str(), line_->SlavePath().c_str(), 1);
    }
    ~EmulatedUpd() {
        line_.reset();
        ::unsetenv(Variable().c_str());
    }
    EmulatedUpd(const EmulatedUpd&) = delete;
    EmulatedUpd& operator=(const EmulatedUpd&) = delete;

    std::string Name() const { return "COM" + std::to_string(number_); }
    emulators::UpdLine& Line() { return *line_; }

  private:
    std::string Variable() const { return "CALVIX_COM" + std::to_string(number_); }
    int number_;
    std::unique_ptr<emulators::UpdLine> line_;
};

}  // namespace testsupport
