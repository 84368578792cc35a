#include "platform/partial_file.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace platform {

namespace {

char partialFile[4096];
volatile std::sig_atomic_t havePartialFile = 0;
volatile std::sig_atomic_t signalExitStatus = -1;

extern "C" void RemovePartialFileAndEnd(int signal) {
    if (havePartialFile) {
        ::unlink(partialFile);
    }
    if (signalExitStatus >= 0) {
        ::_exit(signalExitStatus);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

void RemovePartialFileOnFatalSignals(int exitStatus) {
    signalExitStatus = exitStatus;
    struct sigaction action {};
    action.sa_handler = RemovePartialFileAndEnd;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaction(signal, &action, nullptr);
    }
}

void WatchPartialFile(const std::string& path) {
    havePartialFile = 0;  // a handler never sees a half-copied path
    if (path.size() < sizeof(partialFile)) {
        std::memcpy(partialFile, path.c_str(), path.size() + 1);
        havePartialFile = 1;
    }
}

void ForgetPartialFile() {
    havePartialFile = 0;
}

}  // namespace platform
