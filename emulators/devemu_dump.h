// "devemu dump": writes the dump file that the portable data transfer device would hold after
// reading an emulated version-60 heat calculator. Parsing and help are here for the tests.
#pragma once

#include <string>
#include <vector>

#include "emulators/hc_device.h"
#include "emulators/hc_upd_dump.h"

namespace emulators {

struct DumpParseResult {
    enum class Action { Run, Help, Error };
    Action action = Action::Error;
    HcConfig device;  // version 60 unless --version says otherwise (and is then refused)
    UpdDumpOptions dump;
    std::string outputPath;
    std::string message;  // the error for Action::Error
};

// `args` are the words after "dump": the dump's own options and the device options of
// "devemu hc".
DumpParseResult ParseDumpArguments(const std::vector<std::string>& args);
std::string DumpUsage();  // devemu dump --help

// Writes the file; returns the exit status (0, or 1 with a message on standard error).
int RunDump(const DumpParseResult& parsed);
// The whole subcommand: help, argument errors (exit status 2) and the run.
int DumpMain(const std::vector<std::string>& args);

}  // namespace emulators
