// What the fuzz targets share: a property check that stops the run with a message, and a
// scratch file in memory-backed storage for the parsers that take a path.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fuzz {

// A failed property is a finding: libFuzzer keeps the input that broke it.
inline void Check(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

// One file per process, rewritten for every input.
class ScratchFile {
  public:
    explicit ScratchFile(std::string_view name) {
        const std::filesystem::path folder =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        path_ = folder / ("calvix-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()));
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::filesystem::path& Write(std::string_view bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path_;
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace fuzz
