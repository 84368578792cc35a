// Program paths are Windows-style and relative to the working folder ("HC\dat1hc").
#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

// Backslashes become '/', and each component that does not exist under its exact name is
// matched case-insensitively (ASCII and Cyrillic letters) against the entries of its folder.
// Components that match nothing are kept as written, so the result can name a file to create.
std::filesystem::path ResolvePath(std::string_view windowsPath,
                                  const std::filesystem::path& base = ".");

}  // namespace platform
