// The console programs' roads to the device and the builder: the reading worker on the device
// that calvix.ini's reading section names, and one builder run through the external program
// runner, both waited for on the calling thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "gui/rules/configuration.h"
#include "platform/event.h"

namespace calvix {

// One line of a console log, UTF-8, without its end.
using ConsoleLog = std::function<void(std::string_view line)>;

// Runs the reading worker to its end with the settings of the loaded connection section; the
// parameter list follows the device's version. Each new step of the worker's status text is
// logged once (its first line, not once per record), and so is a failure's text. A set
// `stopEvent` stops the reading as the window's "Прервать" does (no data file is left).
bool ReadConfiguredDevice(Configuration& config, bool readHourly, bool onlyPeriod,
                          const ConsoleLog& log,
                          std::shared_ptr<platform::Event> stopEvent = nullptr);

// SIGTERM (systemctl stop, a start time-out), SIGINT and SIGHUP set `stop` from then on (a write
// on an eventfd, safe in a handler), so a reading given it stops as "Прервать" does and leaves
// no data file, and a program can end after the step it is in. Once, at the start of main.
void StopOnSignals(std::shared_ptr<platform::Event> stop);
// The signal that asked to stop; 0 while none came.
int StopSignal();

// Runs a builder command line in `folder` through the runner with the builder's budget, as
// report creation does; true when the runner reports success.
bool RunReportBuilder(const std::string& commandLine, const std::filesystem::path& folder);

}  // namespace calvix
