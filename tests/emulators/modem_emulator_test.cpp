// The Hayes modem emulator, driven through its pseudo-terminal as a terminal program would.
#include "emulators/modem_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "emulators/hc_line.h"

namespace {

using emulators::CommandFault;
using emulators::DialOutcome;
using emulators::DialPlan;
using emulators::ModemEmulator;
using emulators::ModemOptions;
using std::chrono::milliseconds;

constexpr unsigned kGuardMs = 30;

template <typename Condition>
bool WaitFor(Condition condition, milliseconds limit = milliseconds(10000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    return condition();
}

// The client side of the modem's line.
class Terminal {
  public:
    explicit Terminal(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Terminal() { ::close(fd_); }
    // DTR the termios way: B0 lowers it, a real speed raises it.
    void SetSpeed(speed_t speed) {
        termios tio{};
        tcgetattr(fd_, &tio);
        cfsetospeed(&tio, speed);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    void Send(const std::string& text) {
        [[maybe_unused]] const ssize_t n = ::write(fd_, text.data(), text.size());
    }
    // Everything read until `wanted` appears (or the limit runs out).
    std::string ReadUntil(const std::string& wanted, milliseconds limit = milliseconds(10000)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (received_.find(wanted) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            if (!Poll(milliseconds(20))) {
                break;
            }
        }
        const auto at = received_.find(wanted);
        if (at == std::string::npos) {
            return received_;
        }
        std::string taken = received_.substr(0, at + wanted.size());
        received_.erase(0, at + wanted.size());
        return taken;
    }
    // What came within `span`; for checking that nothing came.
    std::string ReadFor(milliseconds span) {
        const auto deadline = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < deadline && Poll(milliseconds(10))) {
        }
        std::string taken;
        taken.swap(received_);
        return taken;
    }
    bool HungUp() {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1) {
            return false;
        }
        char byte;
        return (entry.revents & POLLHUP) != 0 || ::read(fd_, &byte, 1) < 0;
    }

  private:
    // False on a hang-up.
    bool Poll(milliseconds wait) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(wait.count())) == 1) {
            char buffer[512];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                received_.append(buffer, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN) {
                return false;
            }
        }
        return true;
    }
    int fd_;
    std::string received_;
};

ModemOptions Options() {
    ModemOptions options;
    options.guardMs = kGuardMs;
    options.answerDelayMs = 10;
    options.numbers["1"] = DialPlan{DialOutcome::Connect, 33600, 10, emulators::kEchoPeer};
    options.numbers["2"] = DialPlan{DialOutcome::Busy, 0, 10, ""};
    options.numbers["3"] = DialPlan{DialOutcome::NoAnswer, 0, 10, ""};
    options.numbers["4"] = DialPlan{DialOutcome::NoDialTone, 0, 10, ""};
    options.numbers["5"] = DialPlan{DialOutcome::Error, 0, 10, ""};
    options.numbers["6"] = DialPlan{DialOutcome::Silence, 0, 10, ""};
    options.otherNumbers = DialPlan{DialOutcome::NoCarrier, 0, 10, ""};
    return options;
}

// Escapes to command mode with the guard times around "+++".
std::string Escape(Terminal& terminal) {
    std::this_thread::sleep_for(milliseconds(kGuardMs * 2));  // the protocol's silence
    terminal.Send("+++");
    return terminal.ReadUntil("\r\nOK\r\n");
}

TEST(ModemEmulator, EchoesAndAnswersCommandsLikeAHayesModem) {
    ModemEmulator modem(Options());
    Terminal terminal(modem.SlavePath());
    terminal.Send("AT\r");
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    terminal.Send("ATE0V1Q0X4&C1&D2S0=0\r");
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "ATE0V1Q0X4&C1&D2S0=0\r\r\nOK\r\n");
    terminal.Send("at s12?\r");
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "\r\n1\r\n\r\nOK\r\n");
    terminal.Send("ATJ\r");
    EXPECT_EQ(terminal.ReadUntil("ERROR\r\n"), "\r\nERROR\r\n");
    terminal.Send("ATV0\r");
    EXPECT_EQ(terminal.ReadUntil("0\r"), "0\r");
    terminal.Send("ATZ\r");  // echo was off while it came; the reset turns it on again
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "\r\nOK\r\n");
    terminal.Send("AT\r");
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(modem.Stats().commands.back(), "AT");
}

TEST(ModemEmulator, EachNumberGivesItsResult) {
    ModemEmulator modem(Options());
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0\r");
    terminal.ReadUntil("OK\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"ATDT2\r", "\r\nBUSY\r\n"},          {"ATD3\r", "\r\nNO ANSWER\r\n"},
        {"ATD4\r", "\r\nNO DIALTONE\r\n"},    {"ATD5\r", "\r\nERROR\r\n"},
        {"ATD 77-1\r", "\r\nNO CARRIER\r\n"},
    };
    for (const auto& [command, result] : cases) {
        terminal.Send(command);
        EXPECT_EQ(terminal.ReadUntil(result), result) << command;
    }
    EXPECT_EQ(modem.Stats().dialled, (std::vector<std::string>{"2", "3", "4", "5", "771"}));
    // Silence lasts until the client gives up with any character.
    terminal.Send("ATD6\r");
    EXPECT_EQ(terminal.ReadFor(milliseconds(100)), "");
    terminal.Send("\r");
    EXPECT_EQ(terminal.ReadUntil("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
}

TEST(ModemEmulator, AConnectionCarriesDataUntilTheEscapeAndHangsUpOnATH) {
    ModemEmulator modem(Options());
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0\r");
    terminal.ReadUntil("OK\r\n");
    terminal.Send("ATD1\r");
    EXPECT_EQ(terminal.ReadUntil("CONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");
    EXPECT_TRUE(modem.Stats().online);
    terminal.Send(std::string("AT\r\0\xFF+", 6));  // data now, not commands
    EXPECT_EQ(terminal.ReadUntil(std::string("AT\r\0\xFF+", 6)), std::string("AT\r\0\xFF+", 6));
    EXPECT_EQ(Escape(terminal), "\r\nOK\r\n");
    terminal.Send("ATO\r");
    EXPECT_EQ(terminal.ReadUntil("CONNECT 33600\r\n"), "\r\nCONNECT 33600\r\n");
    terminal.Send("x");
    EXPECT_EQ(terminal.ReadUntil("x"), "x");
    EXPECT_EQ(Escape(terminal), "\r\nOK\r\n");
    terminal.Send("ATH\r");
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "\r\nOK\r\n");
    const emulators::ModemStats stats = modem.Stats();
    EXPECT_FALSE(stats.online);
    EXPECT_EQ(stats.escapes, 2u);
    EXPECT_EQ(stats.hangUps, 1u);
    EXPECT_EQ(std::string(stats.toPeer.begin(), stats.toPeer.end()),
              std::string("AT\r\0\xFF+x", 7));
}

TEST(ModemEmulator, PlusSignsAmongDataAreData) {
    ModemEmulator modem(Options());
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0D1\r");
    terminal.ReadUntil("CONNECT 33600\r\n");
    terminal.Send("a+++b");
    EXPECT_EQ(terminal.ReadUntil("a+++b"), "a+++b");
    EXPECT_EQ(terminal.ReadFor(milliseconds(kGuardMs * 3)), "");
    EXPECT_EQ(modem.Stats().escapes, 0u);
}

TEST(ModemEmulator, ACallLeadsToTheHeatCalculatorOfTheNumber) {
    emulators::HcConfig config;
    emulators::HcLine line({config});
    ModemOptions options = Options();
    options.numbers["7"] = DialPlan{DialOutcome::Connect, 9600, 10, line.SlavePath()};
    ModemEmulator modem(options);
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0D7\r");
    terminal.ReadUntil("CONNECT 9600\r\n");
    const std::vector<std::uint8_t> request = emulators::MakeReadRequest(1, 0x1020, 2);
    terminal.Send(std::string(request.begin(), request.end()));
    const std::string answer = terminal.ReadUntil(std::string(1, '\0'), milliseconds(10000));
    std::string rest = terminal.ReadFor(milliseconds(200));
    EXPECT_EQ((answer + rest).size(), 6u);
    EXPECT_EQ(line.Device(1).Stats().readFrames, 1u);
}

TEST(ModemEmulator, RingsAreAnsweredWithATA) {
    ModemEmulator modem(Options());
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0\r");
    terminal.ReadUntil("OK\r\n");
    terminal.Send("ATA\r");  // nobody calls
    EXPECT_EQ(terminal.ReadUntil("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    modem.Ring(5, 100);
    EXPECT_EQ(terminal.ReadUntil("RING\r\n"), "\r\nRING\r\n");
    EXPECT_EQ(terminal.ReadUntil("RING\r\n"), "\r\nRING\r\n");
    terminal.Send("ATA\r");
    terminal.ReadUntil("CONNECT 9600\r\n");
    EXPECT_EQ(modem.Stats().ringsBeforeAnswer.size(), 1u);
    EXPECT_GE(modem.Stats().ringsBeforeAnswer[0], 2u);
    terminal.Send("hi");
    EXPECT_EQ(terminal.ReadUntil("hi"), "hi");
}

TEST(ModemEmulator, TheFarEndCanHangUpAndTheModemCanBeSwitchedOff) {
    ModemEmulator modem(Options());
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0D1\r");
    terminal.ReadUntil("CONNECT 33600\r\n");
    modem.HangUpFarEnd();
    EXPECT_EQ(terminal.ReadUntil("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(modem.Stats().farEndHangUps, 1u);
    terminal.Send("AT\r");
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "\r\nOK\r\n");
    modem.SwitchOff();
    EXPECT_TRUE(terminal.HungUp());
}

TEST(ModemEmulator, AFaultyModemAnswersNothingOrNoise) {
    ModemOptions options = Options();
    options.fault = CommandFault::Silent;
    ModemEmulator modem(options);
    Terminal terminal(modem.SlavePath());
    terminal.Send("AT\r");
    EXPECT_EQ(terminal.ReadFor(milliseconds(100)), "");
    modem.SetFault(CommandFault::Garbage);
    terminal.Send("AT\r");
    const std::string noise = terminal.ReadUntil("\r\n", milliseconds(10000));
    const std::string line = noise + terminal.ReadUntil("\r\n", milliseconds(10000));
    EXPECT_EQ(line.find("OK"), std::string::npos);
    EXPECT_GT(line.size(), 4u);
    EXPECT_EQ(modem.Stats().commands.size(), 2u);
}

TEST(ModemEmulator, TheStoredProfileComesBackWithTheReset) {
    const std::pair<const char*, const char*> cases[] = {
        {"V0", "AT\r0\r"},     // numeric results, echo on
        {"E0Q1", ""},          // nothing at all
        {"E0", "\r\nOK\r\n"},  // verbose, no echo
    };
    for (const auto& [profile, answer] : cases) {
        SCOPED_TRACE(profile);
        ModemOptions options = Options();
        options.profile = profile;
        ModemEmulator modem(options);
        Terminal terminal(modem.SlavePath());
        terminal.Send("ATE0V1Q0\r");
        terminal.ReadUntil("OK\r\n");
        terminal.Send("ATZ\r");
        terminal.ReadFor(milliseconds(100));
        terminal.Send("AT\r");
        EXPECT_EQ(terminal.ReadFor(milliseconds(150)), answer);
        EXPECT_EQ(modem.Stats().resets, 1u);
    }
}

TEST(ModemEmulator, ASlowResetIgnoresWhatComesMeanwhile) {
    ModemOptions options = Options();
    options.profile = "E0";
    options.resetDelayMs = 300;
    ModemEmulator modem(options);
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATZ\r");
    terminal.Send("ATE0\r");  // lost in the reset
    EXPECT_EQ(terminal.ReadUntil("OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(modem.Stats().commands, std::vector<std::string>{"ATZ"});
}

TEST(ModemEmulator, ARefusedCommandFailsItsLine) {
    ModemOptions options = Options();
    options.refused = {"X4", "&K3"};
    ModemEmulator modem(options);
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATE0\r");
    terminal.ReadUntil("OK\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"ATV1X4\r", "\r\nERROR\r\n"},
        {"ATX3\r", "\r\nOK\r\n"},
        {"AT&K3\r", "\r\nERROR\r\n"},
        {"AT&K0\r", "\r\nOK\r\n"},
    };
    for (const auto& [command, result] : cases) {
        terminal.Send(command);
        EXPECT_EQ(terminal.ReadUntil(result), result) << command;
    }
}

TEST(ModemEmulator, ConnectReportsFollowW) {
    const std::pair<const char*, const char*> cases[] = {
        {"W0", "\r\nCONNECT 115200\r\n"},
        {"W1", "\r\nCARRIER 33600\r\n\r\nPROTOCOL: LAP-M\r\n\r\nCONNECT 115200\r\n"},
        {"W2", "\r\nCONNECT 33600\r\n"},
    };
    for (const auto& [profile, report] : cases) {
        SCOPED_TRACE(profile);
        ModemOptions options = Options();
        options.profile = std::string("E0") + profile;
        ModemEmulator modem(options);
        Terminal terminal(modem.SlavePath());
        terminal.SetSpeed(B115200);
        terminal.Send("ATD1\r");
        EXPECT_EQ(terminal.ReadUntil("CONNECT 115200\r\n"), report);
    }
}

TEST(ModemEmulator, DtrDownHangsUpAsAndDSays) {
    struct Case {
        const char* profile;
        unsigned hangUps;
        bool online;
    };
    const Case cases[] = {{"E0", 1, false}, {"E0&D0", 0, true}, {"E0S2=255", 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        ModemOptions options = Options();
        options.profile = c.profile;
        ModemEmulator modem(options);
        Terminal terminal(modem.SlavePath());
        terminal.SetSpeed(B115200);
        terminal.Send("ATD1\r");
        terminal.ReadUntil("CONNECT 33600\r\n");
        terminal.SetSpeed(B0);
        ASSERT_TRUE(WaitFor([&] { return modem.Stats().dtrDrops == 1; }));
        terminal.SetSpeed(B115200);
        const emulators::ModemStats stats = modem.Stats();
        EXPECT_EQ(stats.dtrHangUps, c.hangUps);
        EXPECT_EQ(stats.online, c.online);
    }
}

TEST(ModemEmulator, WithS2Above127PlusSignsAreAlwaysData) {
    ModemOptions options = Options();
    options.profile = "E0S2=255";
    ModemEmulator modem(options);
    Terminal terminal(modem.SlavePath());
    terminal.Send("ATD1\r");
    terminal.ReadUntil("CONNECT 33600\r\n");
    std::this_thread::sleep_for(milliseconds(kGuardMs * 2));  // the protocol's silence
    terminal.Send("+++");
    EXPECT_EQ(terminal.ReadUntil("+++"), "+++");
    EXPECT_EQ(terminal.ReadFor(milliseconds(kGuardMs * 3)), "");
    EXPECT_EQ(modem.Stats().escapes, 0u);
    EXPECT_TRUE(modem.Stats().online);
}

TEST(ModemEmulator, WithoutADtrWireDropsGoUnseen) {
    ModemOptions options = Options();
    options.dtrWired = false;
    ModemEmulator modem(options);
    Terminal terminal(modem.SlavePath());
    terminal.SetSpeed(B115200);
    terminal.Send("ATE0D1\r");
    terminal.ReadUntil("CONNECT 33600\r\n");
    terminal.SetSpeed(B0);
    terminal.Send("x");  // still carried: the modem never saw DTR go
    EXPECT_EQ(terminal.ReadUntil("x"), "x");
    EXPECT_EQ(modem.Stats().dtrDrops, 0u);
    EXPECT_TRUE(modem.Stats().online);
}

}  // namespace
