// SIGTERM, SIGINT and SIGHUP as a request to stop: the programs end their work the way a
// cancel does, so a reading cut short leaves no partial data file.
#pragma once

#include <memory>

#include "platform/event.h"

namespace platform {

// From now on those signals set `stop` (kept alive here) instead of ending the process.
void StopOnSignals(std::shared_ptr<Event> stop);
// The signal that asked to stop; 0 while none came.
int StopSignal();

}  // namespace platform
