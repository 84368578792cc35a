// "devemu upd": the command line of the emulated data transfer device (УПД), kept apart from
// main() so that the tests can check it.
#pragma once

#include <string>
#include <vector>

#include "emulators/hc_device.h"
#include "emulators/upd_line.h"

namespace emulators {

// One catalog entry: the dump of an emulated heat calculator, or a file's bytes.
struct UpdArchiveSource {
    std::string name;  // Windows-1251, at most 16 bytes
    unsigned seed = 1;
    std::string filePath;  // empty: the emulated heat calculator with `seed`
};

struct UpdRunOptions {
    std::vector<UpdArchiveSource> archives;  // in catalog order
    HcConfig device;  // version 60; what every emulated archive is made of, seed aside
    UpdFaults faults;
    UpdLineOptions line;
    unsigned durationS = 0;  // 0: until signalled
    bool verbose = false;
};

struct UpdParseResult {
    enum class Action { Run, Help, Error };
    Action action = Action::Error;
    UpdRunOptions options;
    std::string message;  // the error for Action::Error
};

// `args` are the words after "upd".
UpdParseResult ParseUpdArguments(const std::vector<std::string>& args);
std::string UpdUsage();  // devemu upd --help

// The catalog the options describe; std::runtime_error when a file cannot be read.
std::vector<UpdArchive> MakeUpdCatalog(const UpdRunOptions& options);

// The whole subcommand: parses, serves until stopped, returns the exit status.
int RunUpdCommand(const std::vector<std::string>& args);

}  // namespace emulators
