// Network serial ports: rfc2217://HOST:PORT (Telnet with COM-port control, the line set per
// request) and tcp://HOST:PORT (raw bytes; the server's line settings are fixed).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/port_channel.h"

namespace platform {

struct NetworkPortAddress {
    bool telnet = false;  // rfc2217://
    std::string host;     // without the brackets of an IPv6 address
    std::string service;  // the port number as written
};

// True for names that start with "rfc2217://" or "tcp://" (case-insensitive).
bool IsNetworkPortName(std::string_view name);

// none for a malformed address (no host, no port, a port that is not 1..65535).
std::optional<NetworkPortAddress> ParseNetworkPortName(std::string_view name);

// How long connecting and the Telnet option exchange may take.
inline constexpr int kNetworkConnectTimeoutMs = 5000;

// Connects; nullptr with errno set on failure (EINVAL for a malformed name, EPROTONOSUPPORT for
// a server that refuses COM-port control on an rfc2217:// port).
std::unique_ptr<PortChannel> OpenNetChannel(const std::string& name);

}  // namespace platform
