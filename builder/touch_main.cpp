// The report builder, installed in a working folder as "touch.exe" and "hc/touch180.exe".
#include <iostream>

#include "builder/command.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return builder::RunBuilder(args, ".", std::cerr);
}
