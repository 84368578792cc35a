// fenlor: downloads one archive of the data transfer device (УПД) into a file.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace updtools {

struct FenlorOptions {
    // Told when the temporary file of the download comes into being and when it is gone
    // (renamed or removed), so a signal handler can remove a partial download.
    std::function<void(const std::string& path)> temporaryCreated;
    std::function<void()> temporarySettled;
};

// `arguments` are the program's arguments without its name; messages go to `out`. Returns the
// exit code, which is always 0: callers judge by the output file, which after a run with six
// arguments is either the whole archive or not there at all.
int RunFenlor(const std::vector<std::string>& arguments, const FenlorOptions& options,
              std::FILE* out);

}  // namespace updtools
