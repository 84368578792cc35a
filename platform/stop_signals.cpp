#include "platform/stop_signals.h"

#include <signal.h>

#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t gStopSignal = 0;
Event* gStopEvent = nullptr;

// Only async-signal-safe work: a store and the event's write().
void AskToStop(int signal) {
    gStopSignal = signal;
    if (gStopEvent != nullptr) {
        gStopEvent->Set();
    }
}

}  // namespace

void StopOnSignals(std::shared_ptr<Event> stop) {
    static std::shared_ptr<Event> kept;  // lives as long as the handlers
    gStopEvent = stop.get();
    kept = std::move(stop);
    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

int StopSignal() {
    return gStopSignal;
}

}  // namespace platform
