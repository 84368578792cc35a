// A real ser2net serving a device (the pseudo-terminal of an emulator) on a loopback port, in
// RFC 2217 (Telnet COM-port control) or raw TCP mode.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace testsupport {

// Where the distribution installs the server; empty when it is not installed.
inline std::string Ser2netProgram() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

// A loopback port that was free a moment ago (the kernel's choice for port 0); 0 on failure.
inline int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(s);
    return port;
}

// Whether process `pid` holds a socket listening on 127.0.0.1:`port`. Told from /proc, not by
// connecting: a probe connection would make the server open the device and play a session.
inline bool ListensOn(pid_t pid, int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    while (std::getline(table, line)) {
        char local[64] = {}, remote[64] = {};
        unsigned state = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), "%*d: %63s %63s %x %*s %*s %*s %*d %*d %lu", local, remote,
                        &state, &inode) != 4 ||
            std::string(local) != wanted || state != 0x0A) {
            continue;
        }
        const std::string socket = "socket:[" + std::to_string(inode) + "]";
        std::error_code ec;
        const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
            if (std::filesystem::read_symlink(fd.path(), ec).string() == socket) {
                return true;
            }
        }
    }
    return false;
}

class Ser2netServer {
  public:
    enum class Mode { kRfc2217, kRaw };

    // Serves `device` with the server's line settings `line` ("9600n81": rate, parity n/e/o/m/s,
    // data bits, stop bits; in RFC 2217 mode the client changes them). Throws std::runtime_error
    // when the server is missing or never listens.
    Ser2netServer(std::string device, Mode mode, std::string line = "9600n81")
        : device_(std::move(device)), mode_(mode), line_(std::move(line)) {
        if (Ser2netProgram().empty()) {
            throw std::runtime_error("ser2net is not installed (Debian package ser2net)");
        }
        // Another program may take the port between our look and the server's bind: try anew.
        for (int attempt = 0; attempt < 5 && !Start(); ++attempt) {
        }
        if (!process_) {
            throw std::runtime_error("ser2net did not listen: " +
                                     FileText(folder_.Path() / "ser2net.out.err"));
        }
    }
    ~Ser2netServer() { Stop(); }
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // "rfc2217://127.0.0.1:P" or "tcp://127.0.0.1:P": what CALVIX_COMn is set to.
    std::string Url() const {
        return std::string(mode_ == Mode::kRfc2217 ? "rfc2217" : "tcp") +
               "://127.0.0.1:" + std::to_string(port_);
    }
    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    bool Running() const { return process_ != nullptr; }

    // An orderly end (SIGTERM), waited for; idempotent.
    void Stop() { End(SIGTERM); }
    // The server gone at once, its connections dropped as by a crash; idempotent.
    void Kill() { End(SIGKILL); }

  private:
    bool Start() {
        port_ = FreeLoopbackPort();
        if (port_ == 0) {
            return false;
        }
        const std::filesystem::path config = folder_.Path() / "ser2net.yaml";
        std::ofstream(config) << "connection: &served\n"
                              << "  accepter: "
                              << (mode_ == Mode::kRfc2217 ? "telnet(rfc2217),tcp" : "tcp")
                              << ",127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << device_ << "," << line_ << ",local\n"
                              << "  options:\n"
                              << "    kickolduser: true\n"
                              << "    mdns: false\n";
        const std::filesystem::path pidFile = folder_.Path() / "ser2net.pid";
        std::filesystem::remove(pidFile);  // a failed attempt's
        auto process = std::make_unique<Process>(
            std::vector<std::string>{Ser2netProgram(), "-n", "-d", "-c", config.string(), "-P",
                                     pidFile.string()},
            folder_.Path() / "ser2net.out");
        if (!process->Started()) {
            return false;
        }
        bool listening = false;
        WaitFor(
            [&] {
                if (process->Wait(std::chrono::milliseconds(1)) != -1) {
                    return true;  // it ended: no use waiting
                }
                pid_ = 0;
                std::ifstream(pidFile) >> pid_;
                listening = pid_ > 0 && ListensOn(pid_, port_);
                return listening;
            },
            std::chrono::seconds(20));
        if (listening) {
            process_ = std::move(process);
        }
        return listening;
    }

    void End(int signal) {
        if (process_) {
            process_->Signal(signal);
            if (process_->Wait(std::chrono::seconds(20)) == -1) {
                process_->Signal(SIGKILL);
                process_->Wait(std::chrono::seconds(20));
            }
            process_.reset();
        }
    }

    std::string device_;
    Mode mode_;
    std::string line_;
    ScratchFolder folder_;
    int port_ = 0;
    pid_t pid_ = 0;  // as the server wrote it
    std::unique_ptr<Process> process_;
};

// The local pseudo-terminal, or ser2net in front of it in either mode.
enum class Road { kLocal, kRfc2217, kRaw };

// Points "COM<number>" at `device` along `road` (`line`: the server's settings): for the local road
// the emulator's own binding stays; otherwise a server is started and the variable names its URL.
class ComRoute {
  public:
    ComRoute(int number, const std::string& device, Road road, std::string line = "9600n81") {
        if (road != Road::kLocal) {
            server_.emplace(
                device,
                road == Road::kRfc2217 ? Ser2netServer::Mode::kRfc2217 : Ser2netServer::Mode::kRaw,
                std::move(line));
            ::setenv(("CALVIX_COM" + std::to_string(number)).c_str(), server_->Url().c_str(), 1);
        }
    }
    // Only on a network road.
    Ser2netServer& Server() { return *server_; }

  private:
    std::optional<Ser2netServer> server_;
};

}  // namespace testsupport
