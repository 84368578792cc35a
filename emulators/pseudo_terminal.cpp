#include "emulators/pseudo_terminal.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace emulators {

void ThrowErrno(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

PseudoTerminalEnds OpenPseudoTerminal(speed_t speed, bool blockingReads) {
    PseudoTerminalEnds ends;
    auto fail = [&ends](const std::string& what) {
        const int saved = errno;
        if (ends.slave >= 0) {
            ::close(ends.slave);
        }
        if (ends.master >= 0) {
            ::close(ends.master);
        }
        errno = saved;
        ThrowErrno(what);
    };
    ends.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ends.master < 0) {
        fail("posix_openpt");
    }
    if (grantpt(ends.master) != 0 || unlockpt(ends.master) != 0) {
        fail("grantpt/unlockpt");
    }
    char name[128];
    if (ptsname_r(ends.master, name, sizeof name) != 0) {
        fail("ptsname_r");
    }
    ends.slavePath = name;
    ends.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ends.slave < 0) {
        fail("open " + ends.slavePath);
    }
    termios tio{};
    if (tcgetattr(ends.slave, &tio) != 0) {
        fail("tcgetattr " + ends.slavePath);
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (blockingReads) {
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
    }
    cfsetspeed(&tio, speed);
    if (tcsetattr(ends.slave, TCSANOW, &tio) != 0) {
        fail("tcsetattr " + ends.slavePath);
    }
    const int flags = fcntl(ends.master, F_GETFL);
    if (flags < 0 || fcntl(ends.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        fail("fcntl O_NONBLOCK");
    }
    return ends;
}

unsigned ClientLineRate(int master) {
    struct Rate {
        speed_t speed;
        unsigned rate;
    };
    static constexpr Rate kRates[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    termios settings{};
    if (::tcgetattr(master, &settings) != 0) {
        return 0;
    }
    const speed_t speed = cfgetospeed(&settings);
    for (const Rate& r : kRates) {
        if (r.speed == speed) {
            return r.rate;
        }
    }
    return 0;
}

void MakeLink(const std::string& linkPath, const std::string& target) {
    namespace fs = std::filesystem;
    const fs::path link(linkPath);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        throw std::runtime_error(linkPath + " exists and is not a symbolic link");
    }
    // Made under a temporary name and renamed, so an old link is replaced in one step.
    const fs::path temporary = link.string() + ".tmp" + std::to_string(::getpid());
    fs::remove(temporary, ec);
    fs::create_symlink(target, temporary, ec);
    if (!ec) {
        fs::rename(temporary, link, ec);
    }
    if (ec) {
        fs::remove(temporary, ec);
        throw std::runtime_error("cannot make the link " + linkPath + ": " + ec.message());
    }
}

void RemoveLink(const std::string& linkPath, const std::string& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::read_symlink(linkPath, ec) == fs::path(target) && !ec) {
        fs::remove(linkPath, ec);
    }
}

}  // namespace emulators
