#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

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

// The file a chain of symbolic links ends in; it need not exist. False for a loop or a link that
// cannot be read.
[[nodiscard]] bool FollowLinks(std::filesystem::path path, std::filesystem::path& target);
// The same, or `path` itself where the chain cannot be followed (opening it then fails): where a
// program writes, so that a link is never replaced by the file.
std::filesystem::path LinkedFile(const std::filesystem::path& path);

// Reads `count` bytes from `fd` (retrying after signals); false at the end of the file or on an
// error before all of them came.
[[nodiscard]] bool ReadExactly(int fd, void* buffer, std::size_t count);

// Appends the whole file to `content`; false when it cannot be opened or read (a folder, for
// one), is not a regular file, or is larger than 64 MiB.
[[nodiscard]] bool ReadWholeFile(const std::filesystem::path& path, std::string& content);

// The temporary file ReplaceFile writes beside `target`: a short name of this process's, so a
// target whose name takes all 255 bytes still leaves room, and never a "*.txt" or "*.ini".
std::filesystem::path ReplacementPath(const std::filesystem::path& target);

// Replaces or creates the file `target` with `content` and never leaves it half written: the
// content goes into ReplacementPath(target), is synced and renamed over the target, and the
// folder is synced. An existing target keeps its mode and, where the process may give files
// away, its owner; a new one is made with 0666 less the umask. A target that exists but is not
// a regular file is refused. False on any failure, the target then being as it was.
[[nodiscard]] bool ReplaceFile(const std::filesystem::path& target, std::string_view content);

}  // namespace platform
