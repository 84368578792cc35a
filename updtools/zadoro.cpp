#include "updtools/zadoro.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>

#include "platform/sleep.h"
#include "platform/win_path.h"
#include "updtools/tool_common.h"
#include "updtools/upd_link.h"

namespace updtools {

namespace {

constexpr ToolWaits kWaits{100, 200};
constexpr std::uint32_t kAnswerWaitMs = 100;

// The catalog file, made anew. A path that names something other than a regular file (a
// folder, a FIFO that would block the open, a device) is not written.
class CatalogFile {
  public:
    explicit CatalogFile(const std::filesystem::path& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return;
        }
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~CatalogFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    CatalogFile(const CatalogFile&) = delete;
    CatalogFile& operator=(const CatalogFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Append(const std::string& line) { (void)WriteAll(fd_, line.data(), line.size()); }

  private:
    int fd_ = -1;
};

void ReadCatalog(UpdPort& port, const std::filesystem::path& path, std::FILE* out) {
    CatalogFile file(path);
    if (!file.IsOpen()) {
        return;
    }
    for (unsigned n = 1;; ++n) {
        const Reply reply = port.Exchange(UpdCommand::kNextEntry);
        if (IsEndOfList(reply) || !IsWholeReply(reply)) {
            return;
        }
        const std::string line = std::to_string(n) + " - " + EntryName(reply) + "\r\n";
        Print(out, line, "");
        file.Append(line);
    }
}

}  // namespace

int RunZadoro(const std::vector<std::string>& arguments, std::FILE* out) {
    if (arguments.size() != kToolArguments) {
        Print(out, "Wrong parametrs", "\r\n");
        return 0;
    }
    Print(out, arguments[0], "\r\n");
    const int portNumber = ToolPortNumber(arguments[0]);
    if (portNumber == 0) {
        Print(out, "Wrong port number", "\r\n");
        return 0;
    }
    const long long baud = ParseNumber(arguments[1]);
    if (!IsUpdSpeed(baud)) {
        Print(out, "Wrong speed", "\r\n");
        return 0;
    }
    Print(out, "COM" + std::to_string(portNumber), "\r\n");
    std::unique_ptr<UpdPort> port = OpenToolPort(portNumber, static_cast<std::uint32_t>(baud),
                                                 ToolTimeout(arguments[3]), kWaits);
    if (port == nullptr) {
        return 0;
    }
    port->Send(UpdCommand::kOpen);
    platform::SleepMs(kAnswerWaitMs);
    if (!AnyAcknowledgementByte(port->Receive())) {
        Print(out, "UPD is not responding", "");
        return 0;
    }
    ReadCatalog(*port, platform::ResolvePath(arguments[5]), out);
    return 0;
}

}  // namespace updtools
