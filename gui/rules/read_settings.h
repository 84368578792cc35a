// The reading workers' settings from calvix.ini's connection section, as the window and the
// console reader both start it. Header only: its users link the reading library themselves.
#pragma once

#include "gui/rules/configuration.h"
#include "reading/ureadhc.h"

namespace calvix {

// The connection section's fields, the version table and the whole configuration.
inline void FillDeviceLinkSettings(Configuration& config, reading::DeviceLinkSettings& settings) {
    const ConnectionSettings& connection = config.Connection();
    settings.useModem = connection.useModem;
    settings.phoneNumber = connection.phoneNumber;
    settings.connectTimeout = connection.connectTimeout;
    settings.abonent = connection.abonent;
    settings.portName = connection.portName;
    settings.baudRate = connection.portSpeed;
    settings.versionList = config.VersionTable();
    settings.configuration = config.Ini();
}

inline reading::ReadSettings MakeReadSettings(Configuration& config, bool readHourly,
                                              bool onlyPeriod) {
    reading::ReadSettings settings;
    FillDeviceLinkSettings(config, settings);
    settings.readerProgram = config.Connection().readerProgram;
    settings.readHourly = readHourly;
    settings.onlyPeriod = onlyPeriod;
    return settings;
}

}  // namespace calvix
