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

// Runs a builder command line in `folder` through the runner with the builder's budget, as
// report creation does; true when the runner reports success.
bool RunReportBuilder(const std::string& commandLine, const std::filesystem::path& folder);

}  // namespace calvix
