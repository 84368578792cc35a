#include "updtools/tool_common.h"

#include <unistd.h>
#include <cerrno>

#include "platform/sleep.h"

namespace updtools {

namespace {

constexpr std::uint32_t kDefaultTimeoutMs = 200;
constexpr std::uint32_t kMaxTimeoutMs = 60000;

}  // namespace

void Print(std::FILE* out, std::string_view text, std::string_view ending) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fwrite(ending.data(), 1, ending.size(), out);
    std::fflush(out);
}

int ToolPortNumber(std::string_view argument) {
    const long long number = ParseNumber(argument);
    return number >= 1 && number <= 8 ? static_cast<int>(number) : 0;
}

std::uint32_t ToolTimeout(std::string_view argument) {
    const long long t = ParseNumber(argument);
    if (t <= 0) {
        return kDefaultTimeoutMs;
    }
    return t > kMaxTimeoutMs ? kMaxTimeoutMs : static_cast<std::uint32_t>(t);
}

std::unique_ptr<UpdPort> OpenToolPort(int number, std::uint32_t baud, std::uint32_t t,
                                      ToolWaits waits) {
    std::unique_ptr<UpdPort> port = UpdPort::Open(number);
    if (port == nullptr || !port->SetTimeouts(t)) {
        return nullptr;
    }
    platform::SleepMs(waits.beforeSetupMs);
    if (!port->Setup(baud, LineSetup::kTool)) {
        return nullptr;
    }
    platform::SleepMs(waits.afterSetupMs);
    return port;
}

bool WriteAll(int fd, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace updtools
