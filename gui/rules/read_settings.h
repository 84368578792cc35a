// The reading worker's settings from calvix.ini's connection section, as the window and the
// console reader both start it. Header only: its users link the reading library themselves.
#pragma once

#include "gui/rules/configuration.h"
#include "reading/ureadhc.h"

namespace calvix {

inline reading::ReadSettings MakeReadSettings(Configuration& config, bool readHourly,
                                              bool onlyPeriod) {
    const ConnectionSettings& connection = config.Connection();
    reading::ReadSettings settings;
    settings.useModem = connection.useModem;
    settings.phoneNumber = connection.phoneNumber;
    settings.connectTimeout = connection.connectTimeout;
    settings.abonent = connection.abonent;
    settings.portName = connection.portName;
    settings.baudRate = connection.portSpeed;
    settings.readerProgram = connection.readerProgram;
    settings.readHourly = readHourly;
    settings.onlyPeriod = onlyPeriod;
    settings.versionList = config.VersionTable();
    settings.configuration = config.Ini();
    return settings;
}

}  // namespace calvix
