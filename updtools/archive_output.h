// fenlor's output file, which never holds anything but a whole archive: the blocks go into a
// temporary file beside it, which replaces it once the archive is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace updtools {

class ArchiveOutput {
  public:
    // `target` is the output path; a symbolic link is followed, so the file it names is
    // replaced and the link stays.
    ArchiveOutput(const std::filesystem::path& target,
                  std::function<void(const std::string&)> created, std::function<void()> settled);
    // Discards whatever was not committed.
    ~ArchiveOutput();
    ArchiveOutput(const ArchiveOutput&) = delete;
    ArchiveOutput& operator=(const ArchiveOutput&) = delete;

    // Makes the temporary file and removes an old output, which from now on cannot pass for
    // this download's result. False when the target is not a regular file or the folder
    // refuses the temporary file.
    bool Create();
    bool Append(const std::uint8_t* bytes, std::size_t count);
    // Syncs the temporary file and renames it over the target. False, all discarded, on failure.
    bool Commit();
    // Removes the temporary file and any old file at the target.
    void Discard();

  private:
    void CloseTemporary();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::function<void(const std::string&)> created_;
    std::function<void()> settled_;
    int fd_ = -1;
    bool haveTemporary_ = false;
    bool committed_ = false;
};

}  // namespace updtools
