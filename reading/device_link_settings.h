// What a reading worker takes from calvix.ini to reach one heat calculator and talk to it.
#pragma once

#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace reading {

// What a worker takes from the configuration to reach one heat calculator and talk to it; the
// main window copies it once, on the main thread.
struct DeviceLinkSettings {
    bool useModem = false;
    std::string phoneNumber;
    long connectTimeout = 120;  // seconds
    long abonent = 3;
    std::string portName = "COM1";
    long baudRate = 9600;
    // The version table of the configuration ("A/B/C/D/E=V1,V2,..." lines, 1251).
    std::vector<std::string> versionList;
    // The configuration, for the device's text encoding.
    platform::IniFile configuration;
};

}  // namespace reading
