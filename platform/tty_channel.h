// A local serial line (a terminal device): termios settings, modem lines, parity emulation for
// drivers without MARK/SPACE, and bytes marked by the kernel for parity errors.
#pragma once

#include <memory>
#include <string>

#include "platform/port_channel.h"

namespace platform {

// Opens the terminal at `path` exclusively (TIOCEXCL plus an exclusive flock) in raw mode; the
// settings found are restored at close. nullptr with errno set on failure.
std::unique_ptr<PortChannel> OpenTtyChannel(const std::string& path);

}  // namespace platform
