// fenlor: downloads one archive of the data transfer device (УПД) into a file.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/partial_file.h"
#include "updtools/fenlor.h"

int main(int argc, char** argv) {
    platform::RemovePartialFileOnFatalSignals();
    updtools::FenlorOptions options;
    options.temporaryCreated = [](const std::string& path) { platform::WatchPartialFile(path); };
    options.temporarySettled = [] { platform::ForgetPartialFile(); };
    return updtools::RunFenlor(std::vector<std::string>(argv + 1, argv + argc), options, stdout);
}
