#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Appends the whole file to `content`; false when it cannot be opened or read (a folder, for one).
bool ReadWholeFile(const std::filesystem::path& path, std::string& content);

}  // namespace platform
