// tarvexcheck: one call through libtarvex.so, as the workstation makes it. Connects a slot,
// reads heat-calculator memory, disconnects, and shows the history file it wrote.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "modem/tarvex.h"
#include "platform/codepage.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Usage() {
    std::fprintf(
        stderr,
        "Usage: tarvexcheck SLOT NUMBER [--history PATH] [--subscriber N] [--address A]\n"
        "                   [--length N] [--timeout SECONDS]\n"
        "Calls NUMBER through the modem of SLOT (1..8 = COM1..COM8, 0 = the first\n"
        "modem found; TARVEX_MODEMS names the modem ports), reads LENGTH bytes (1..256,\n"
        "default 2) at ADDRESS (default 0x1020) from heat calculator SUBSCRIBER (default\n"
        "1), disconnects and prints the history file. Exit status 0 when the read worked;\n"
        "otherwise the cause is on standard error.\n");
}

// A history file of our own when none was asked for, so that the cause can be told.
std::string TemporaryHistory() {
    char path[] = "/tmp/tarvexcheck-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return path;
}

// The reason of the last failure the library recorded, in UTF-8; empty when there is none.
std::string LastCause(const std::string& history) {
    const std::string text = platform::Cp1251ToUtf8(ReadAll(history));
    std::size_t best = std::string::npos;
    std::size_t from = 0;
    for (const char* head : {"Ошибка при открытии канала передачи информации:\r\n   ",
                             "Ошибка при обращении к модему:\r\n   "}) {
        const std::size_t at = text.rfind(head);
        if (at != std::string::npos && (best == std::string::npos || at > best)) {
            best = at;
            from = at + std::string(head).size();
        }
    }
    if (best == std::string::npos) {
        return {};
    }
    return text.substr(from, text.find("\r\n", from) - from);
}

bool Number(const char* text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 0);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Usage();
        return 2;
    }
    unsigned long slot = 0;
    unsigned long subscriber = 1;
    unsigned long address = 0x1020;
    unsigned long length = 2;
    unsigned long timeout = 60;
    std::string history;
    bool ok = Number(argv[1], slot);
    for (int i = 3; ok && i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--history") {
            history = argv[i + 1];
        } else if (option == "--subscriber") {
            ok = Number(argv[i + 1], subscriber);
        } else if (option == "--address") {
            ok = Number(argv[i + 1], address);
        } else if (option == "--length") {
            ok = Number(argv[i + 1], length) && length >= 1 && length <= 256;
        } else if (option == "--timeout") {
            ok = Number(argv[i + 1], timeout);
        } else {
            ok = false;
        }
    }
    if (!ok || (argc - 3) % 2 != 0) {
        Usage();
        return 2;
    }
    const auto modemSlot = static_cast<std::uint32_t>(slot);
    const bool ownHistory = history.empty();
    const std::string recorded = ownHistory ? TemporaryHistory() : history;
    if (!recorded.empty() && ModemOpenHistoryFile(modemSlot, recorded.c_str(), 1) != 1) {
        std::fprintf(stderr, "tarvexcheck: cannot open the history file %s\n", recorded.c_str());
    }
    int status = 1;
    if (ModemConnect(modemSlot, argv[2], 9600, 56000, static_cast<std::uint32_t>(timeout), 1) ==
            1 &&
        ModemGetCommHandle(modemSlot) != 0) {
        std::printf("connected\n");
        std::vector<std::uint8_t> data(length);
        const std::uint32_t got = ModemReadHC(modemSlot, static_cast<std::uint32_t>(subscriber),
                                              static_cast<std::uint32_t>(address),
                                              static_cast<std::uint32_t>(length), data.data());
        if (got == length) {
            std::printf("read %lu bytes at 0x%04lX:", length, address);
            for (std::uint8_t byte : data) {
                std::printf(" %02X", byte);
            }
            std::printf("\n");
            status = 0;
        } else {
            std::printf("read failed\n");
            std::fprintf(stderr, "tarvexcheck: the heat calculator did not answer the read\n");
        }
    } else {
        std::printf("not connected\n");
        const std::string cause = LastCause(recorded);
        std::fprintf(stderr, "tarvexcheck: not connected: %s\n",
                     cause.empty() ? "no cause recorded" : cause.c_str());
    }
    ModemDisconnect(modemSlot);
    ModemCloseHistoryFile(modemSlot);
    std::printf("%s\n", platform::Cp1251ToUtf8(ModemGetStatisticsAll(modemSlot)).c_str());
    if (!ownHistory) {
        std::printf("--- %s ---\n%s", history.c_str(),
                    platform::Cp1251ToUtf8(ReadAll(history)).c_str());
    } else if (!recorded.empty()) {
        std::remove(recorded.c_str());
    }
    return status;
}
