// The file a console program is writing: until it is settled, a fatal signal (SIGINT, SIGTERM,
// SIGHUP, SIGPIPE: a pipeline's reader that went away) removes it before the program ends, so a
// partial file never survives an interrupted run.
#pragma once

#include <string>

namespace platform {

// Installs the handlers, once at the start of main. `exitStatus` below 0: after the cleanup the
// program dies of the signal; else it ends with that status.
void RemovePartialFileOnFatalSignals(int exitStatus = -1);
// The file being written now (a path of 4096 bytes or more is not watched).
void WatchPartialFile(const std::string& path);
// The file is complete, or gone: a signal leaves it alone.
void ForgetPartialFile();

}  // namespace platform
