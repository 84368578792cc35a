#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace platform {

enum class FileRead {
    kRead,        // the whole file is in `content`
    kMissing,     // nothing by that name
    kUnreadable,  // it exists but cannot be opened or read (permissions, a folder, an I/O error)
    kNotRegular,  // a FIFO, a device or a socket: reading it could block or never end
    kTooLarge,    // larger than the limit; nothing is kept
};

// Reads a regular file whole. Never opens anything that could block, and never reads more than
// `limit` bytes into memory.
[[nodiscard]] FileRead ReadFileWhole(const std::filesystem::path& path, std::string& content,
                                     std::size_t limit = std::size_t{64} << 20);

// Reads `count` bytes from `fd` (retrying after signals); false at the end of the file or on an
// error before all of them came.
[[nodiscard]] bool ReadExactly(int fd, void* buffer, std::size_t count);

// Appends the whole file to `content`; false when it cannot be opened or read (a folder, for
// one), is not a regular file, or is larger than 64 MiB.
[[nodiscard]] bool ReadWholeFile(const std::filesystem::path& path, std::string& content);

}  // namespace platform
