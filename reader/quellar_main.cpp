// quellar: reads a heat calculator over a COM port into a data file, driven by a parameter list.
#include <signal.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "reader/quellar_run.h"

namespace {

// A partial data file must not survive an interrupted run either.
char partialOutput[4096];
volatile std::sig_atomic_t havePartialOutput = 0;

extern "C" void RemovePartialOutputAndExit(int) {
    if (havePartialOutput) {
        ::unlink(partialOutput);
    }
    ::_exit(255);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    reader::QuellarOptions options;
    options.outputCreated = [](const std::string& path) {
        havePartialOutput = 0;  // a handler never sees a half-copied path
        if (path.size() < sizeof(partialOutput)) {
            std::memcpy(partialOutput, path.c_str(), path.size() + 1);
            havePartialOutput = 1;
        }
    };
    options.outputSettled = [] { havePartialOutput = 0; };
    // SIGPIPE too: with the output piped into a reader that went away ("| head"), the run
    // cannot report anything more and must not leave its partial file.
    struct sigaction action {};
    action.sa_handler = RemovePartialOutputAndExit;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaction(signal, &action, nullptr);
    }
    return reader::RunQuellar(arguments, options, stdout);
}
