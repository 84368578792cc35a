// fenlor: downloads one archive of the data transfer device (УПД) into a file.
#include <signal.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "updtools/fenlor.h"

namespace {

// A partial download must not survive an interrupted run either.
char partialDownload[4096];
volatile std::sig_atomic_t havePartialDownload = 0;

extern "C" void RemovePartialDownloadAndDie(int signal) {
    if (havePartialDownload) {
        ::unlink(partialDownload);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
    updtools::FenlorOptions options;
    options.temporaryCreated = [](const std::string& path) {
        havePartialDownload = 0;  // a handler never sees a half-copied path
        if (path.size() < sizeof(partialDownload)) {
            std::memcpy(partialDownload, path.c_str(), path.size() + 1);
            havePartialDownload = 1;
        }
    };
    options.temporarySettled = [] { havePartialDownload = 0; };
    // SIGPIPE too: with the output piped into a reader that went away, the run cannot report
    // anything more and must not leave its partial file.
    struct sigaction action {};
    action.sa_handler = RemovePartialDownloadAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaction(signal, &action, nullptr);
    }
    return updtools::RunFenlor(std::vector<std::string>(argv + 1, argv + argc), options, stdout);
}
