// The helper program of the program-starting tests (process_helper.cpp) and what the tests need
// to look at what it did.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/process.h"

namespace testsupport {

// Places the helper program into `folder` under `name` (a link to the built program).
inline void InstallHelper(const std::filesystem::path& folder, const std::string& name) {
    std::filesystem::create_directories((folder / name).parent_path());
    std::filesystem::create_symlink(CALVIX_PROCESS_HELPER, folder / name);
}

inline std::vector<std::string> FileLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The helper's record of its calls in `folder`, one line per call (arguments joined by '|'),
// "end" after each sleep that ran to its end.
inline std::vector<std::string> Calls(const std::filesystem::path& folder) {
    return FileLines(folder / "calls.log");
}

// Gone or a zombie nobody has reaped yet: it runs no more.
inline bool ProcessGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return true;
    }
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() &&
           (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

inline bool WaitForFile(const std::filesystem::path& path) {
    return WaitFor(
        [&] {
            std::error_code ec;
            return std::filesystem::exists(path, ec);
        },
        std::chrono::seconds(20));
}

}  // namespace testsupport
