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
    std::uint32_t retryWaitMs = 10000;     // after a failed attempt of a line
    std::uint32_t addressPauseMs = 10;     // address byte -> rest of a request
    std::uint32_t hourStatusWaitMs = 100;  // after an hourly answer with an unknown status
    unsigned hourIterations = 1000;        // exchanges of one attempt of the hourly archive
    ExecutorTiming timing;
    // Told when the output file comes into being and when it is gone or final, so a signal
    // handler can remove a partial file.
    std::function<void(const std::string& path)> outputCreated;
    std::function<void()> outputSettled;
    // Called once the port is open, before it is set up (tests break the line here).
    std::function<void()> portOpened;
};

// `arguments` are the program's arguments without the program name. Returns the exit code.
int RunQuellar(const std::vector<std::string>& arguments, const QuellarOptions& options,
               std::FILE* out);

// The base time-out T for the `timeout` argument: 0 or below takes the one the link layer
// prescribes for `baud`, and more than a minute is cut to a minute, so every read ends.
std::uint32_t QuellarTimeout(long argument, std::uint32_t baud);

}  // namespace reader
