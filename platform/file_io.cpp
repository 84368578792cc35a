#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace platform {

bool ReadWholeFile(const std::filesystem::path& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char chunk[8192];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ::close(fd);
            return got == 0;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace platform
