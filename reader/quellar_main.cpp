// quellar: reads a heat calculator over a COM port into a data file, driven by a parameter list.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/partial_file.h"
#include "reader/quellar_run.h"

int main(int argc, char** argv) {
    // A partial data file must not survive an interrupted run either; such a run ends with 255.
    platform::RemovePartialFileOnFatalSignals(255);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    reader::QuellarOptions options;
    options.outputCreated = [](const std::string& path) { platform::WatchPartialFile(path); };
    options.outputSettled = [] { platform::ForgetPartialFile(); };
    return reader::RunQuellar(arguments, options, stdout);
}
