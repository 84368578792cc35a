// The quellar program: reads one heat calculator over a COM port into a data file, driven by a
// parameter-list file. Kept apart from main() so tests can run it with short waits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "reader/line_executor.h"

namespace reader {

struct QuellarOptions {
    std::uint32_t retryWaitMs = 10000;  // after a failed attempt of a line
    std::uint32_t addressPauseMs = 10;  // address byte -> rest of a request
    ExecutorTiming timing;
    // Told when the output file comes into being and when it is gone or final, so a signal
    // handler can remove a partial file.
    std::function<void(const std::string& path)> outputCreated;
    std::function<void()> outputSettled;
};

// `arguments` are the program's arguments without the program name. Returns the exit code.
int RunQuellar(const std::vector<std::string>& arguments, const QuellarOptions& options,
               std::FILE* out);

}  // namespace reader
