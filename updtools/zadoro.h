// zadoro: writes the catalog of the data transfer device (УПД) into a text file and prints it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace updtools {

// `arguments` are the program's arguments without its name; messages go to `out`. Returns the
// exit code, which is always 0: callers judge by the catalog file.
int RunZadoro(const std::vector<std::string>& arguments, std::FILE* out);

}  // namespace updtools
