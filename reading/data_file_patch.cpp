#include "reading/data_file_patch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace reading {
namespace {

constexpr std::size_t kMaxRecord = 512;
constexpr std::size_t kMarkByte = 22;
constexpr std::uint8_t kHourTag = 0x09;

// Calls `visit(offset of the tag-length byte, length)` for each whole record.
template <typename Visit>
void ForEachRecord(const std::vector<std::uint8_t>& file, Visit visit) {
    std::size_t at = 0;
    while (at + 2 <= file.size()) {
        const std::size_t length = (std::size_t{file[at]} << 8) | file[at + 1];
        if (length > kMaxRecord || at + 2 + length > file.size()) {
            return;
        }
        visit(at + 2, length);
        at += 2 + length;
    }
}

bool NeedsPatch(const std::vector<std::uint8_t>& file, std::size_t body, std::size_t length) {
    return length > 30 && file[body] == 5 && file[body + 1] == kHourTag &&
           file[body + kMarkByte] == 0x02;
}

void Patch(std::vector<std::uint8_t>& file, std::size_t body) {
    file[body + 22] = 0x01;
    file[body + 23] = 0x00;
    file[body + 24] = 0x04;
    file[body + 29] = 0x03;
    file[body + 30] = 0x10;
}

bool ReadAll(int fd, std::vector<std::uint8_t>& bytes) {
    std::uint8_t chunk[8192];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

bool WriteAt(int fd, const std::uint8_t* bytes, std::size_t count, std::size_t offset) {
    while (count > 0) {
        const ssize_t put = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes += put;
        count -= static_cast<std::size_t>(put);
        offset += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

std::size_t PatchHourRecords(std::vector<std::uint8_t>& file) {
    std::size_t patched = 0;
    ForEachRecord(file, [&](std::size_t body, std::size_t length) {
        if (NeedsPatch(file, body, length)) {
            Patch(file, body);
            ++patched;
        }
    });
    return patched;
}

bool PatchHourRecordsInFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::vector<std::uint8_t> bytes;
    bool ok = ReadAll(fd, bytes);
    if (ok) {
        const std::vector<std::uint8_t> original = bytes;
        PatchHourRecords(bytes);
        // Only the changed stretches go back, record by record.
        ForEachRecord(original, [&](std::size_t body, std::size_t length) {
            if (ok && NeedsPatch(original, body, length)) {
                ok = WriteAt(fd, &bytes[body + 22], 3, body + 22) &&
                     WriteAt(fd, &bytes[body + 29], 2, body + 29);
            }
        });
    }
    return ::close(fd) == 0 && ok;
}

}  // namespace reading
