// The real programs: "devemu modem --hc" as the telephone network and the heat calculator,
// "tarvexcheck" making one call through libtarvex.so.
#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

using testsupport::FileText;
using testsupport::Process;

// The first line the emulator printed: its pseudo-terminal.
std::string FirstLine(const std::filesystem::path& output) {
    std::string line;
    testsupport::WaitFor(
        [&] {
            const std::string text = FileText(output);
            const auto end = text.find('\n');
            if (end == std::string::npos) {
                return false;
            }
            line = text.substr(0, end);
            return true;
        },
        std::chrono::seconds(20));
    return line;
}

TEST(TarvexCheck, CallsReadsAndHangsUpWithItsHistory) {
    testsupport::ScratchFolder scratch;
    Process modem({DEVEMU_PATH, "modem", "--hc", "--guard", "200", "--number", "102=busy"},
                  scratch.Path() / "devemu.out");
    ASSERT_TRUE(modem.Started());
    const std::string line = FirstLine(scratch.Path() / "devemu.out");
    ASSERT_EQ(line.rfind("/dev/pts/", 0), 0u) << FileText(scratch.Path() / "devemu.out.err");
    const std::vector<std::string> environment = {"CALVIX_COM3=" + line, "TARVEX_MODEMS=COM3"};
    const std::filesystem::path history = scratch.Path() / "modem.log";

    Process check({TARVEXCHECK_PATH, "3", "101", "--history", history.string(), "--length", "4"},
                  scratch.Path() / "check.out", environment);
    ASSERT_EQ(check.Wait(std::chrono::seconds(60)), 0) << FileText(scratch.Path() / "check.out");
    const std::string output = FileText(scratch.Path() / "check.out");
    EXPECT_NE(output.find("connected\nread 4 bytes at 0x1020:"), std::string::npos) << output;
    EXPECT_NE(output.find("Канал передачи информации закрыт"), std::string::npos) << output;
    EXPECT_NE(FileText(history).find("\r\n"), std::string::npos);  // the file itself is 1251

    Process busy({TARVEXCHECK_PATH, "3", "102"}, scratch.Path() / "busy.out", environment);
    EXPECT_EQ(busy.Wait(std::chrono::seconds(60)), 1);
    EXPECT_NE(FileText(scratch.Path() / "busy.out").find("not connected"), std::string::npos);

    modem.Signal(SIGTERM);
    EXPECT_EQ(modem.Wait(std::chrono::seconds(20)), 0);
    EXPECT_NE(FileText(scratch.Path() / "devemu.out.err").find("2 dials, 1 connections"),
              std::string::npos)
        << FileText(scratch.Path() / "devemu.out.err");
}

// A modem as installations have them: its stored profile gives numeric results (V0), none at
// all (Q1), echo, line-rate reports (W1) and no "+++" (S2=255); its reset takes 2.5 s and it
// does not know X4.
TEST(TarvexCheck, CallsThroughAModemWithBadHabits) {
    testsupport::ScratchFolder scratch;
    Process modem({DEVEMU_PATH, "modem", "--hc", "--guard", "200", "--profile", "E1V0Q1W1S2=255",
                   "--reset-delay", "2500", "--refuse", "X4", "--other", "connect,rate=26400"},
                  scratch.Path() / "devemu.out");
    ASSERT_TRUE(modem.Started());
    const std::string line = FirstLine(scratch.Path() / "devemu.out");
    ASSERT_EQ(line.rfind("/dev/pts/", 0), 0u) << FileText(scratch.Path() / "devemu.out.err");
    const std::filesystem::path history = scratch.Path() / "modem.log";
    Process check({TARVEXCHECK_PATH, "3", "101", "--history", history.string()},
                  scratch.Path() / "check.out", {"CALVIX_COM3=" + line, "TARVEX_MODEMS=COM3"});
    ASSERT_EQ(check.Wait(std::chrono::seconds(90)), 0)
        << FileText(scratch.Path() / "check.out") << FileText(scratch.Path() / "check.out.err");
    const std::string output = FileText(scratch.Path() / "check.out");
    EXPECT_NE(output.find("скорость соединения: 26400 бит/с"), std::string::npos) << output;
    modem.Signal(SIGTERM);
    EXPECT_EQ(modem.Wait(std::chrono::seconds(20)), 0);
    EXPECT_NE(FileText(scratch.Path() / "devemu.out.err").find("1 hang-ups by DTR, 0 by ATH"),
              std::string::npos)
        << FileText(scratch.Path() / "devemu.out.err");
}

TEST(TarvexCheck, TellsWhyItCouldNotConnect) {
    ::unsetenv("TARVEX_MODEMS");
    testsupport::ScratchFolder scratch;
    Process modem({DEVEMU_PATH, "modem", "--hc", "--refuse", "X3", "--number", "102=busy"},
                  scratch.Path() / "devemu.out");
    ASSERT_TRUE(modem.Started());
    const std::string line = FirstLine(scratch.Path() / "devemu.out");
    ASSERT_EQ(line.rfind("/dev/pts/", 0), 0u) << FileText(scratch.Path() / "devemu.out.err");
    const std::string port = "CALVIX_COM3=" + line;
    struct Case {
        std::vector<std::string> environment;
        const char* number;
        const char* cause;
    };
    const Case cases[] = {
        {{port}, "101", "модемы не настроены (переменная TARVEX_MODEMS)"},
        {{port, "TARVEX_MODEMS=COM3/init=X3"}, "101", "модем отклонил строку инициализации"},
        {{port, "TARVEX_MODEMS=COM3"}, "102", "принят сигнал занятости от вызываемого абонента"},
        {{port, "TARVEX_MODEMS=COM3"}, "101;ATZ", "номер телефона содержит недопустимые символы"},
        {{port, "TARVEX_MODEMS=COM5"}, "101", "COM-порт = ???"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cause);
        Process check({TARVEXCHECK_PATH, "3", c.number}, scratch.Path() / "check.out",
                      c.environment);
        EXPECT_EQ(check.Wait(std::chrono::seconds(60)), 1);
        const std::string error = FileText(scratch.Path() / "check.out.err");
        EXPECT_NE(error.find(std::string("tarvexcheck: not connected: ") + c.cause),
                  std::string::npos)
            << error;
    }
    modem.Signal(SIGTERM);
    EXPECT_EQ(modem.Wait(std::chrono::seconds(20)), 0);
}

}  // namespace
