// Running the real zadoro and fenlor programs in a scratch working folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "emulators/upd_line.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace updtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// COM4 names a device that is not there.
inline const std::vector<std::string> kMissingCom4 = {"CALVIX_COM4=/nonexistent/upd-tty"};

struct ToolRun {
    int exitCode = -1;
    std::string printed;  // standard output, byte for byte
};

// Starts `program` with `arguments` in `folder`; standard output goes to "printed.out" there.
inline std::unique_ptr<testsupport::Process> StartTool(const std::string& program,
                                                       const std::vector<std::string>& arguments,
                                                       const fs::path& folder) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<testsupport::Process>(argv, folder / "printed.out", kMissingCom4,
                                                  folder);
}

inline ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                       const fs::path& folder) {
    ToolRun run;
    run.exitCode = StartTool(program, arguments, folder)->Wait(120s);
    run.printed = testsupport::FileText(folder / "printed.out");
    return run;
}

// The bytes of a file, or "(none)" when there is no file.
inline std::string FileOrNone(const fs::path& path) {
    return fs::exists(path) ? testsupport::FileText(path) : std::string("(none)");
}

// The names in a folder, sorted, blank-separated.
inline std::string Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : " ") + name;
    }
    return text;
}

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return bytes;
}

// Three archives: 3 blocks, 40 bytes (3 blocks, the last padded), 100 blocks; the second name
// is Cyrillic (1251 bytes), the third takes all 16 bytes.
inline std::vector<emulators::UpdArchive> ThreeArchives() {
    return {{"ALPHA", Pattern(48, 1)},
            {"\xD3\xE7\xE5\xEB 2", Pattern(40, 2)},  // "Узел 2"
            {"0123456789ABCDEF", Pattern(1600, 3)}};
}

inline std::string AsText(const std::vector<std::uint8_t>& bytes, std::size_t paddedTo = 0) {
    std::string text(bytes.begin(), bytes.end());
    text.resize(std::max(text.size(), paddedTo), '\0');
    return text;
}

}  // namespace updtest
