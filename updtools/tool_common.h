// What zadoro and fenlor share: reading their arguments, printing, and the port they set up.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "updtools/upd_link.h"

namespace updtools {

// Both tools take exactly this many arguments after the program name.
inline constexpr std::size_t kToolArguments = 6;

// Writes the text and its ending and flushes, so a reader of a pipe sees each message at once.
void Print(std::FILE* out, std::string_view text, std::string_view ending);

// The port argument: 1..8, or 0 when it names no port of the tools.
int ToolPortNumber(std::string_view argument);

// The base time-out T from its argument. Zero or below would make every read wait for ever
// (all-zero time-outs wait for the whole count), so it becomes the catalog reader's 200 ms;
// more than a minute is cut to a minute, so every read ends.
std::uint32_t ToolTimeout(std::string_view argument);

struct ToolWaits {
    std::uint32_t beforeSetupMs = 0;
    std::uint32_t afterSetupMs = 0;
};

// Opens "COM<number>", sets the time-outs from T, waits, sets the line up, waits again.
// nullptr when the port cannot be opened or set up.
std::unique_ptr<UpdPort> OpenToolPort(int number, std::uint32_t baud, std::uint32_t t,
                                      ToolWaits waits);

// Writes all of `size` bytes to `fd`, retrying after signals and short writes.
bool WriteAll(int fd, const void* bytes, std::size_t size);

}  // namespace updtools
