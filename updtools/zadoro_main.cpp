// zadoro: reads the catalog of the data transfer device (УПД) into a text file.
#include <cstdio>
#include <string>
#include <vector>

#include "updtools/zadoro.h"

int main(int argc, char** argv) {
    return updtools::RunZadoro(std::vector<std::string>(argv + 1, argv + argc), stdout);
}
