// quellar: reads a heat calculator over a COM port into a data file, driven by a parameter list.
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
        if (path.size() < sizeof(partialOutput)) {
            std::memcpy(partialOutput, path.c_str(), path.size() + 1);
            havePartialOutput = 1;
        }
    };
    options.outputSettled = [] { havePartialOutput = 0; };
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, RemovePartialOutputAndExit);
    }
    return reader::RunQuellar(arguments, options, stdout);
}
