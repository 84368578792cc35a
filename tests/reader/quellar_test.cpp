// quellar's flow, run in-process against an emulated heat calculator with short waits.
#include "reader/quellar_run.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "platform/serial_port.h"
#include "protocol/frames.h"
#include "protocol/utv540.h"
#include "tests/support/emulated_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using emulators::Fault;
using emulators::FaultKind;
namespace fs = std::filesystem;

// Generous, so a busy machine costs no attempt; reads that only a time-out ends cost it once.
const char* const kTimeOut = "250";

const char* const kSpeedMessage =
    "Wrong speed (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)\n";

struct Outcome {
    int exitCode = 0;
    std::string printed;
};

// The program's waits, shortened. A retry still waits for the rest of a garbled answer to go by,
// as the 10 s do on a real line.
reader::QuellarOptions FastOptions() {
    reader::QuellarOptions options;
    options.retryWaitMs = 100;
    options.hourStatusWaitMs = 1;
    options.timing.statusPollMs = 5;
    return options;
}

Outcome RunQuellar(const std::vector<std::string>& arguments,
                   const reader::QuellarOptions& options = FastOptions()) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    Outcome outcome;
    outcome.exitCode = reader::RunQuellar(arguments, options, out);
    std::fclose(out);
    outcome.printed.assign(buffer, size);
    std::free(buffer);
    return outcome;
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A parameter list written with CR LF line ends.
void WriteList(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) {
        out << line << "\r\n";
    }
}

struct Record {
    Bytes tag;
    Bytes data;
};

std::vector<Record> Records(const Bytes& file) {
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 8 <= file.size()) {
        const std::size_t length = (file[at] << 8) | file[at + 1];
        EXPECT_EQ(file[at + 2], 5) << "at " << at;
        EXPECT_LE(at + 2 + length, file.size());
        if (at + 2 + length > file.size()) {
            break;
        }
        records.push_back({Bytes(file.begin() + at + 3, file.begin() + at + 8),
                           Bytes(file.begin() + at + 8, file.begin() + at + 2 + length)});
        at += 2 + length;
    }
    EXPECT_EQ(at, file.size());
    return records;
}

const std::string kStart = "HO_START 255 0 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31";
const std::string kStop = "HO_STOP 255 1 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31";
// A mailbox pair: the clock asked twice into one record.
const std::string kClockPair1 = "RA_T1 4 0 0 6 @230 0 54 10001 0";
const std::string kClockPair2 = "RA_T2 4 0 0 6";
const Bytes kStartRecordData = {0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31};

class Quellar : public ::testing::Test {
  protected:
    void SetUp() override { Bind({testsupport::Device()}); }

    void Bind(std::vector<emulators::HcConfig> devices) {
        port_.reset();
        port_ = std::make_unique<testsupport::EmulatedPort>(5, std::move(devices),
                                                            testsupport::PatientLine());
    }
    emulators::HcDevice& Device() { return port_->Device(1); }

    fs::path List(const std::vector<std::string>& lines) {
        WriteList(ListPath(), lines);
        return ListPath();
    }
    fs::path ListPath() const { return folder_.Path() / "list.opr"; }
    fs::path Output() const { return folder_.Path() / "out.dat"; }

    // port 5 at 115200, time-out 30 ms, address 1
    Outcome RunList(const std::vector<std::string>& lines, std::string abonent = "1",
                    std::string deep = "0", const reader::QuellarOptions& options = FastOptions()) {
        return RunQuellar(
            {"5", "115200", deep, kTimeOut, abonent, List(lines).string(), Output().string()},
            options);
    }

    testsupport::ScratchFolder folder_;
    std::unique_ptr<testsupport::EmulatedPort> port_;
};

TEST_F(Quellar, ArgumentErrorsPrintTheirMessageAndLeaveNothing) {
    const std::string list = List({kStart, kStop}).string();
    const std::string out = Output().string();
    const std::string usage =
        "Use: quellar.exe port port_speed use_deep_archives timeout abon_number config_file "
        "output_file";
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {{"5", "9600", "0", "30", "1", list}, 0, usage},
        {{"5", "9600", "0", "30", "1", list, out, "extra"}, 0, usage},
        {{"5", "9600", "1", "30", "1", "tv540wi.opr", out},
         0,
         "Can`t read deep archives at TV540WI"},
        {{"0", "9600", "0", "30", "1", list, out}, 0, "Wrong port number\r"},
        {{"9", "9600", "2", "30", "1", list, out}, 0, "Wrong port number\r"},
        {{"x", "9600", "0", "30", "1", list, out}, 0, "Wrong port number\r"},
        {{"5", "9600", "2", "30", "1", list, out}, -1, ""},
        {{"5", "14400", "0", "30", "1", list, out}, 0, "COM5\n" + std::string(kSpeedMessage)},
        {{"5", "9600", "0", "30", "0", list, out}, 0, "COM5\nWrong abonent number (1..255)\n"},
        {{"5", "9600", "0", "30", "256", list, out}, 0, "COM5\nWrong abonent number (1..255)\n"},
        {{"5", "9600", "0", "30", "1", list + ".missing", out},
         0,
         "COM5\nCan't open configuration file\n"},
        {{"5", "9600", "0", "30", "1", folder_.Path().string(), out},
         -1,
         "COM5\nCan't read configuration file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printed);
        const Outcome outcome = RunQuellar(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.printed, c.printed);
        EXPECT_FALSE(fs::exists(Output()));
    }
    // A path in front of the name is not the refused list.
    EXPECT_NE(RunQuellar({"5", "9600", "1", "30", "1", "hc/tv540wi.opr", out}).printed,
              "Can`t read deep archives at TV540WI");
}

TEST_F(Quellar, ListsThatAreNotFilesAreRefusedWithoutWaiting) {
    const fs::path fifo = folder_.Path() / "list.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& list : {fifo.string(), std::string("/dev/zero")}) {
        SCOPED_TRACE(list);
        const Outcome outcome =
            RunQuellar({"5", "115200", "0", kTimeOut, "1", list, Output().string()});
        EXPECT_EQ(outcome.exitCode, -1);
        EXPECT_EQ(outcome.printed, "COM5\nCan't read configuration file\n");
    }
    EXPECT_EQ(Device().Stats().framesReceived, 0u);
}

TEST_F(Quellar, UnpairedMailboxLinesAreRefusedBeforeAnyExchange) {
    struct Case {
        std::vector<std::string> lines;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {{kStart, kClockPair1, kStop}, "Wrong configuration file: RA_T1 has no continuation\n"},
        {{kStart, kClockPair1, "R_TIME 4 0 0 6 230 0 54 10001 0", kClockPair2, kStop},
         "Wrong configuration file: RA_T1 has no continuation\n"},
        {{kStart, kClockPair2, kStop}, "Wrong configuration file: RA_T2 continues no @ line\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printed);
        const Outcome outcome = RunList(c.lines);
        EXPECT_EQ(outcome.exitCode, -1);
        EXPECT_EQ(outcome.printed, "COM5\n" + c.printed);
        EXPECT_FALSE(fs::exists(Output()));
    }
    EXPECT_EQ(Device().Stats().framesReceived, 0u);
}

TEST_F(Quellar, APortThatCannotBeSetUpFailsCleanly) {
    reader::QuellarOptions options = FastOptions();
    options.portOpened = [this] { port_.reset(); };  // the line hangs up under the open port
    const Outcome outcome = RunQuellar(
        {"5", "115200", "0", kTimeOut, "1", List({kStart, kStop}).string(), Output().string()},
        options);
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_EQ(outcome.printed, "COM5\nCan't configure port\n");
    EXPECT_FALSE(fs::exists(Output()));
}

TEST_F(Quellar, EveryTimeOutArgumentGivesAReadingThatEnds) {
    // The command line's answer is read into more room than it fills: only the time-outs end
    // that read.
    for (const char* timeout : {"0", "-30", "none", "-4294967296"}) {
        SCOPED_TRACE(timeout);
        const Outcome outcome = RunQuellar(
            {"5", "115200", "0", timeout, "1",
             List({kStart, "R_TIME 4 0 0 6 230 0 54 10001 0", kStop}).string(), Output().string()});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.printed;
        EXPECT_EQ(Records(ReadAll(Output())).size(), 3u);
    }
}

TEST(QuellarTimeout, NothingBelowOneAndNothingAboveAMinute) {
    EXPECT_EQ(reader::QuellarTimeout(0, 9600), protocol::BaseTimeoutForBaud(9600));
    EXPECT_EQ(reader::QuellarTimeout(-1, 1200), protocol::BaseTimeoutForBaud(1200));
    EXPECT_EQ(reader::QuellarTimeout(250, 1200), 250u);
    EXPECT_EQ(reader::QuellarTimeout(60000, 9600), 60000u);
    EXPECT_EQ(reader::QuellarTimeout(60001, 9600), 60000u);
    EXPECT_EQ(reader::QuellarTimeout(reader::ReadDecimal("99999999999"), 9600), 60000u);
}

TEST_F(Quellar, OutputsThatMustNotBeTouchedAreRefused) {
    const std::string list = List({kStart, kClockPair1, kClockPair2, kStop}).string();
    const Bytes listBytes = ReadAll(list);
    fs::create_directory(folder_.Path() / "sub");
    fs::create_symlink(list, folder_.Path() / "link.opr");
    fs::create_hard_link(list, folder_.Path() / "hard.opr");
    const fs::path fifo = folder_.Path() / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testsupport::EmulatedPort other(6, {testsupport::Device()});  // a device node to refuse
    const std::string same = "Output file is the configuration file\n";
    const std::string special = "Output file is not a regular file\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {list, same},
        {(folder_.Path() / "sub" / ".." / "list.opr").string(), same},
        {(folder_.Path() / "link.opr").string(), same},
        {(folder_.Path() / "hard.opr").string(), same},
        {fifo.string(), special},
        {other.Line().SlavePath(), special},
        {(folder_.Path() / "sub").string(), special},
    };
    for (const auto& [output, message] : cases) {
        SCOPED_TRACE(output);
        const Outcome outcome = RunQuellar({"5", "115200", "0", kTimeOut, "1", list, output});
        EXPECT_EQ(outcome.exitCode, -1);
        EXPECT_EQ(outcome.printed, "COM5\n" + message);
        EXPECT_EQ(ReadAll(list), listBytes);
        EXPECT_TRUE(fs::exists(fs::symlink_status(output)));
    }
    EXPECT_TRUE(fs::is_symlink(folder_.Path() / "link.opr"));
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(Device().Stats().framesReceived, 0u);
}

TEST_F(Quellar, AnOutputThroughALinkIsWrittenToItsTarget) {
    const fs::path link = folder_.Path() / "dat.link";
    const fs::path target = folder_.Path() / "target.dat";
    fs::create_symlink("target.dat", link);  // relative, as links usually are
    const Outcome outcome =
        RunQuellar({"5", "115200", "0", kTimeOut, "1",
                    List({kStart, kClockPair1, kClockPair2, kStop}).string(), link.string()});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Records(ReadAll(target)).size(), 3u);
}

TEST_F(Quellar, AFailedRunThroughALinkLeavesNoPartialTarget) {
    const fs::path link = folder_.Path() / "dat.link";
    const fs::path target = folder_.Path() / "target.dat";
    std::ofstream(target) << "the previous reading";
    fs::create_symlink(target, link);
    const Outcome outcome =
        RunQuellar({"5", "115200", "0", kTimeOut, "9",
                    List({kStart, kClockPair1, kClockPair2, kStop}).string(), link.string()});
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(target)) << "a partial reading must not survive";
}

TEST_F(Quellar, ListsWithLfLineEndsReadAsTheirCrLfTwins) {
    const fs::path crlf = std::string(CALVIX_SOURCE_DIR) + "/site/hc/tv540wi.opr";
    std::string text;
    for (char c : ReadAll(crlf)) {
        if (c != '\r') {
            text += c;
        }
    }
    ASSERT_NE(text.size(), ReadAll(crlf).size()) << "the shipped list has CR LF line ends";
    const fs::path lf = folder_.Path() / "lf.opr";
    std::ofstream(lf, std::ios::binary) << text;
    auto read = [&](const fs::path& list) {
        Bind({testsupport::Device()});
        const Outcome outcome =
            RunQuellar({"5", "115200", "0", kTimeOut, "1", list.string(), Output().string()});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.printed;
        return ReadAll(Output());
    };
    const Bytes fileCrLf = read(crlf);
    const Bytes fileLf = read(lf);
    // The clock and the current values move with time: the rest is equal byte for byte.
    const std::vector<Bytes> moving = {{0xE6, 0x00, 0x36, 0x11, 0x00},
                                       {0xE6, 0x00, 0x0B, 0x40, 0x00}};
    auto still = [&](const Bytes& file) {
        std::vector<Record> records = Records(file);
        for (Record& record : records) {
            if (std::find(moving.begin(), moving.end(), record.tag) != moving.end()) {
                std::fill(record.data.begin(), record.data.end(), 0);
            }
        }
        return records;
    };
    const std::vector<Record> a = still(fileCrLf);
    const std::vector<Record> b = still(fileLf);
    ASSERT_EQ(fileLf.size(), fileCrLf.size());
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].tag, b[i].tag) << i;
        EXPECT_EQ(a[i].data, b[i].data) << i;
    }
}

TEST_F(Quellar, PortThatCannotBeOpened) {
    ::setenv("CALVIX_COM6", "/nonexistent/tty", 1);
    const Outcome outcome =
        RunQuellar({"6", "9600", "0", "30", "1", ListPath().string(), Output().string()});
    ::unsetenv("CALVIX_COM6");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.printed, "COM6\nCan't open port");
}

TEST_F(Quellar, TheWrongSpeedClosesThePort) {
    RunQuellar({"5", "14400", "0", "30", "1", ListPath().string(), Output().string()});
    EXPECT_TRUE(platform::SerialPort::Open("COM5")) << "the port was left open";
}

TEST_F(Quellar, OutputFileThatCannotBeCreated) {
    const Outcome outcome =
        RunQuellar({"5", "115200", "0", kTimeOut, "1", List({kStart, kStop}).string(),
                    (folder_.Path() / "no" / "such" / "out.dat").string()});
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_EQ(outcome.printed, "COM5\nCan't create output file\n");
}

TEST_F(Quellar, PrintsEveryRequestFrameAndOkAfterEachItem) {
    const Outcome outcome = RunList({kStart, kClockPair1, kClockPair2, kStop});
    EXPECT_EQ(outcome.exitCode, 0);
    const std::string frames =
        "0x1 0x9 0x2 0x10 0x80 0 0x9c  \n"
        "0x1 0x9 0x4 0x10 0 0x4 0 0 0x22  \n"
        "0x1 0x8 0x2 0x10 0x80 0x6 0xa1  \n"
        "OK\n";
    EXPECT_EQ(outcome.printed, "COM5\n" + frames + frames);
    const auto records = Records(ReadAll(Output()));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].tag, (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00}));
    EXPECT_EQ(records[0].data, kStartRecordData);
    EXPECT_EQ(records[1].tag, (Bytes{0xE6, 0x00, 0x36, 0x11, 0x00}));
    // 2024-12-07: the device clock's date, in BCD, once from each line of the pair.
    ASSERT_EQ(records[1].data.size(), 12u);
    EXPECT_EQ(Bytes(records[1].data.begin() + 3, records[1].data.begin() + 6),
              (Bytes{0x07, 0x12, 0x24}));
    EXPECT_EQ(Bytes(records[1].data.begin() + 9, records[1].data.end()), (Bytes{0x07, 0x12, 0x24}));
    EXPECT_EQ(records[2].tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
}

TEST_F(Quellar, CommandLinesSendTwoCommandBytes) {
    const Outcome outcome = RunList({kStart, "R_TIME 4 0 0 6 230 0 54 10001 0", kStop});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_NE(outcome.printed.find("0x1 0x9 0x3 0x10 0 0x4 0 0x21  \n"), std::string::npos)
        << outcome.printed;
    const auto records = Records(ReadAll(Output()));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].tag, (Bytes{0xE6, 0x00, 0x36, 0x11, 0x00}));
    EXPECT_EQ(records[1].data.size(), 6u);
}

// Walks the device directory at 302 in the emulator's memory to find what a field holds.
Bytes FieldBytes(emulators::HcDevice& device, std::uint8_t group, std::uint8_t subgroup,
                 std::uint8_t field) {
    auto word = [&device](unsigned at) {
        return static_cast<std::uint16_t>(device.Peek(static_cast<std::uint16_t>(at)) << 8 |
                                          device.Peek(static_cast<std::uint16_t>(at + 1)));
    };
    unsigned row = device.Peek(emulators::kDeviceDirectoryRoot) |
                   device.Peek(emulators::kDeviceDirectoryRoot + 1) << 8;
    for (; device.Peek(static_cast<std::uint16_t>(row)) != 0xFF; row += 8) {
        if (device.Peek(static_cast<std::uint16_t>(row)) != group ||
            device.Peek(static_cast<std::uint16_t>(row + 1)) != subgroup) {
            continue;
        }
        for (unsigned entry = word(row + 2); entry != 0; entry = word(word(entry + 2))) {
            if (device.Peek(static_cast<std::uint16_t>(entry)) != field) {
                continue;
            }
            const unsigned end = word(entry + 2);
            const bool separate = (device.Peek(static_cast<std::uint16_t>(entry + 1)) & 0x80) != 0;
            const bool apart =
                separate && device.Peek(static_cast<std::uint16_t>(entry + 4)) == 0x40;
            const unsigned data = apart ? word(entry + 5) : entry + (separate ? 5 : 4);
            const unsigned size = apart ? word(entry + 7) : end - data;
            Bytes bytes;
            for (unsigned i = 0; i < size; ++i) {
                bytes.push_back(device.Peek(static_cast<std::uint16_t>(data + i)));
            }
            return bytes;
        }
    }
    return {};
}

TEST_F(Quellar, DataFieldLinesStoreTheFieldFoundThroughTheDirectory) {
    const Outcome outcome = RunList({
        kStart,
        "R_ID &(12E),1,101,0,57,1 230 0 57 1000000 0",
        "R_PIPE &(12E),1,230,2,30,1 230 2 61 100110 0 1f",
        "R_NONE &(12E),1,101,0,99,1 230 0 99 1000000 0",  // no such field: skipped
        "R_ROOT &(13),1,101,0,57,1 230 0 57 1000000 0",   // root of the wrong length: nothing
        kStop,
    });
    EXPECT_EQ(outcome.exitCode, 0);
    const auto records = Records(ReadAll(Output()));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].tag, (Bytes{230, 0, 57, 64, 0}));
    EXPECT_EQ(records[1].data, FieldBytes(Device(), 101, 0, 57));
    EXPECT_FALSE(records[1].data.empty());
    // Bytes after the fifth tag byte come before the data.
    EXPECT_EQ(records[2].tag, (Bytes{230, 2, 61, 38, 0}));
    Bytes pipe = {0x1F};
    const Bytes field = FieldBytes(Device(), 230, 2, 30);
    pipe.insert(pipe.end(), field.begin(), field.end());
    EXPECT_EQ(records[2].data, pipe);
    // Three stored or skipped items print OK; the malformed line prints nothing at all.
    std::size_t oks = 0;
    for (std::size_t at = outcome.printed.find("OK\n"); at != std::string::npos;
         at = outcome.printed.find("OK\n", at + 1)) {
        ++oks;
    }
    EXPECT_EQ(oks, 3u);
    // The group table is read once per run.
    const Bytes rootRead = protocol::BuildReadRequest(1, 0x12E, 2);
    std::string rootFrame;
    for (std::uint8_t b : rootRead) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%#x ", b);
        rootFrame += hex;
    }
    EXPECT_EQ(outcome.printed.find(rootFrame), outcome.printed.rfind(rootFrame));
}

TEST_F(Quellar, AGroupThatIsNotThereFailsTheRun) {
    const Outcome outcome = RunList({kStart, "R_X &(130),1,77,7,30,1 1 2 3 1 5", kStop});
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(Output()));
}

TEST_F(Quellar, MailboxPairsShareOneRecord) {
    const Outcome outcome = RunList({
        kStart,
        "RA_DAY0 40 1 0 48 @11 0 36 101001 0",
        "RA_DAY0B 40 1 1 48",
        "R_NUMBER 53 0 0 8 230 0 57 1000000 1",
        kStop,
    });
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    const auto records = Records(ReadAll(Output()));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].tag, (Bytes{11, 0, 36, 41, 0}));
    ASSERT_EQ(records[1].data.size(), 96u);

    // The same pages asked of a twin device, frame by frame.
    emulators::HcDevice twin(testsupport::Device());
    auto page = [&](std::uint8_t number) {
        const Bytes zero = {0};
        const Bytes command = {40, 1, number};
        twin.HandleFrame(protocol::BuildWriteRequest(1, 0x1080, zero));
        twin.HandleFrame(protocol::BuildWriteRequest(1, 0x1000, command));
        const auto answer = twin.HandleFrame(protocol::BuildReadRequest(1, 0x1080, 49));
        EXPECT_TRUE(answer && (*answer)[3] == 1);
        return Bytes(answer->begin() + 4, answer->end() - 1);
    };
    Bytes expected = page(0);
    const Bytes second = page(1);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(records[1].data, expected);
    // The command line's answer: the factory number text first.
    EXPECT_EQ(records[2].tag, (Bytes{230, 0, 57, 64, 1}));
    ASSERT_EQ(records[2].data.size(), 8u);
}

TEST_F(Quellar, LinesAfterTheStopLineAreStillRead) {
    const Outcome outcome = RunList({kStart, kStop, "R_TIME 4 0 0 6 230 0 54 10001 0"});
    EXPECT_EQ(outcome.exitCode, 0);
    const auto records = Records(ReadAll(Output()));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].tag, (Bytes{230, 0, 54, 17, 0}));
}

TEST_F(Quellar, AnswersThatComeLateArePolledUpToTenTimes) {
    auto config = testsupport::Device();
    config.statusZeroPolls = 10;
    Bind({config});
    EXPECT_EQ(RunList({kStart, kClockPair1, kClockPair2, kStop}).exitCode, 0);

    config.statusZeroPolls = 11 * 4;  // never in time, in any of the four attempts
    Bind({config});
    const Outcome outcome = RunList({kStart, kClockPair1, kClockPair2, kStop});
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(Output()));
}

// An answer of 146 bytes fills the 150-byte room with its checksum to spare: it must still be
// taken whole, or a second read of the answer area starts on that checksum byte.
TEST_F(Quellar, ALongCommandAnswerReadTwiceKeepsItsBytesInPlace) {
    const std::string line = "R_PAGE 40 1 0 146 230 3 40 1000000 0";
    ASSERT_EQ(RunList({kStart, line, kStop}).exitCode, 0);
    const auto once = Records(ReadAll(Output()));
    ASSERT_EQ(once.size(), 3u);
    ASSERT_EQ(once[1].data.size(), 146u);

    auto config = testsupport::Device();
    config.statusZeroPolls = 1;
    Bind({config});
    ASSERT_EQ(RunList({kStart, line, kStop}).exitCode, 0);
    const auto twice = Records(ReadAll(Output()));
    ASSERT_EQ(twice.size(), 3u);
    EXPECT_EQ(twice[1].data, once[1].data);
}

TEST_F(Quellar, ASilentDeviceFailsTheRunAndRemovesTheFile) {
    const Outcome outcome = RunList({kStart, "R_TIME 4 0 0 6 230 0 54 10001 0", kStop}, "9");
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(Output()));
    // Four attempts, each starting with the clear of the status byte.
    std::size_t attempts = 0;
    for (std::size_t at = outcome.printed.find("0x9 0x9 0x2 0x10 0x80"); at != std::string::npos;
         at = outcome.printed.find("0x9 0x9 0x2 0x10 0x80", at + 1)) {
        ++attempts;
    }
    EXPECT_EQ(attempts, 4u);
    EXPECT_EQ(outcome.printed.find("OK"), std::string::npos);
}

TEST_F(Quellar, BadAnswersAreRetried) {
    const std::vector<FaultKind> kinds = {FaultKind::BadChecksum, FaultKind::LostAnswer,
                                          FaultKind::Garbage, FaultKind::WrongHead};
    for (FaultKind kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        Bind({testsupport::Device()});
        Device().InjectFault(Fault{kind, 2, 1, 0});  // the answer read of the first attempt
        const Outcome outcome = RunList({kStart, kClockPair1, kClockPair2, kStop});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.printed;
        EXPECT_EQ(Records(ReadAll(Output())).size(), 3u);
    }
}

TEST_F(Quellar, CommandLinesAcceptAnswersWithOneRightHeadByte) {
    Device().InjectFault(Fault{FaultKind::WrongHead, 0, 3, 0});
    const Outcome outcome = RunList({kStart, "R_NUMBER 53 0 0 8 230 0 57 1000000 1", kStop});
    EXPECT_EQ(outcome.exitCode, 0);
    // All three exchanges of the first attempt went through: one attempt only.
    EXPECT_EQ(Device().Stats().commands, 1u);
}

TEST_F(Quellar, LinesThatCannotWorkFailAtOnce) {
    // A data line before the start line has no file to go to.
    Outcome outcome = RunList({"R_TIME 4 0 0 6 230 0 54 10001 0", kStart, kStop});
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(Output()));
    // An answer longer than a read can carry: refused before any traffic.
    Bind({testsupport::Device()});
    outcome = RunList({kStart, "RA_BIG 4 0 0 300 1 2 3 1 5", kStop});
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(Output()));
    EXPECT_EQ(Device().Stats().framesReceived, 0u);
}

TEST_F(Quellar, EmptyAndCommentOnlyListsSucceedWithoutAFile) {
    EXPECT_EQ(RunList({}).exitCode, 0);
    EXPECT_EQ(RunList({"; nothing here", "   ", "UNKNOWN 1 2 3"}).exitCode, 0);
    EXPECT_FALSE(fs::exists(Output()));
}

// The answers a device gives to 16 and then 15..., asked of a twin frame by frame.
std::vector<Bytes> HourAnswers(const emulators::HcConfig& config, int count) {
    emulators::HcDevice twin(config);
    std::vector<Bytes> answers;
    for (int i = 0; i < count; ++i) {
        const Bytes zero = {0};
        const Bytes command = {static_cast<std::uint8_t>(i == 0 ? 16 : 15)};
        twin.HandleFrame(protocol::BuildWriteRequest(1, 0x1080, zero));
        twin.HandleFrame(protocol::BuildWriteRequest(1, 0x1000, command));
        const auto answer = twin.HandleFrame(protocol::BuildReadRequest(1, 0x1080, 92));
        answers.emplace_back(answer->begin() + 3, answer->end() - 1);
    }
    return answers;
}

TEST_F(Quellar, DeepArchivesStoreNinetyBytesOfEachHourAtTheStopLine) {
    auto config = testsupport::Device();
    config.hourlyRecords = 5;
    Bind({config});
    const Outcome outcome = RunList({kStart, kStop}, "1", "1");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    const Bytes file = ReadAll(Output());
    const std::vector<Bytes> answers = HourAnswers(config, 5);
    ASSERT_EQ(file.size(), 19u + 5u * 99u + 19u);
    for (unsigned k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        const Bytes record(file.begin() + 19 + k * 99, file.begin() + 19 + (k + 1) * 99);
        EXPECT_EQ(Bytes(record.begin(), record.begin() + 8),
                  (Bytes{0x00, 0x61, 0x05, 0x09, 0x00, static_cast<std::uint8_t>(k), 0x00, 0x01}));
        EXPECT_EQ(Bytes(record.begin() + 8, record.end() - 1),
                  Bytes(answers[k].begin() + 1, answers[k].begin() + 91));
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < record.size(); ++i) {
            sum += record[i];
        }
        EXPECT_EQ(record.back(), static_cast<std::uint8_t>(sum));
    }
    EXPECT_EQ(Bytes(file.end() - 19, file.end() - 14), (Bytes{0x00, 0x11, 0x05, 0xFF, 0x01}));
}

// The hourly records between the start and the stop record, 99 bytes each.
std::vector<Bytes> HourRecords(const Bytes& file) {
    std::vector<Bytes> records;
    EXPECT_EQ((file.size() - 38) % 99, 0u);
    for (std::size_t at = 19; at + 99 + 19 <= file.size(); at += 99) {
        records.emplace_back(file.begin() + static_cast<long>(at),
                             file.begin() + static_cast<long>(at + 99));
    }
    return records;
}

TEST_F(Quellar, AFailedHourAttemptLeavesNoHourTwice) {
    auto config = testsupport::Device();
    config.hourlyRecords = 15;
    Bind({config});
    // Three frames an hour: the answer read of the tenth hour goes unanswered.
    Device().InjectFault(Fault{FaultKind::LostAnswer, 3 * 9 + 2, 1, 0});
    const Outcome outcome = RunList({kStart, kStop}, "1", "1");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    const std::vector<Bytes> records = HourRecords(ReadAll(Output()));
    const std::vector<Bytes> answers = HourAnswers(config, 15);
    ASSERT_EQ(records.size(), 15u);
    for (unsigned k = 0; k < 15; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(records[k][5], k) << "counted from 0 again";
        EXPECT_EQ(Bytes(records[k].begin() + 8, records[k].end() - 1),
                  Bytes(answers[k].begin() + 1, answers[k].begin() + 91));
    }
}

TEST_F(Quellar, AnUnknownHourStatusRepositionsAtTheLastStoredHour) {
    auto config = testsupport::Device();
    config.refusedCommands = {15};  // answered with status 3
    Bind({config});
    reader::QuellarOptions options = FastOptions();
    options.hourIterations = 7;
    const Outcome outcome = RunList({kStart, kStop}, "1", "1", options);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    EXPECT_EQ(HourRecords(ReadAll(Output())).size(), 1u) << "the repositioned hour is not stored";
    const Bytes first = HourAnswers(config, 1)[0];
    const Bytes at = {12, first[3], first[4], first[5], first[6]};
    const std::vector<Bytes> expected = {{16}, {15}, at, {15}, at, {15}, at};
    EXPECT_EQ(Device().Stats().commandLog, expected) << "one attempt, within its iterations";
}

TEST_F(Quellar, ADeviceThatRefusesTheHourlyCommandsKeepsTheReading) {
    auto config = testsupport::Device();
    config.refusedCommands = {16, 15, 12};
    Bind({config});
    reader::QuellarOptions options = FastOptions();
    options.hourIterations = 5;
    const Outcome outcome = RunList({kStart, kClockPair1, kClockPair2, kStop}, "1", "1", options);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    const auto records = Records(ReadAll(Output()));
    ASSERT_EQ(records.size(), 3u) << "start, clock, stop: no hours";
    EXPECT_EQ(records[2].tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
    EXPECT_EQ(Device().Stats().commands, 2u + 5u);
}

TEST_F(Quellar, ReadsTheShippedParameterList) {
    const std::string list = std::string(CALVIX_SOURCE_DIR) + "/site/hc/tv540wi.opr";
    const Outcome outcome =
        RunQuellar({"5", "115200", "0", kTimeOut, "1", list, Output().string()});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    const auto records = Records(ReadAll(Output()));
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records.front().tag, (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00}));
    EXPECT_EQ(records.back().tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
    std::size_t pairs = 0;
    for (const Record& record : records) {
        if (record.tag[0] == 11 || record.tag[0] == 12) {
            EXPECT_EQ(record.data.size(), 96u);
            ++pairs;
        }
        if (record.tag == Bytes{230, 0, 58, 64, 0}) {
            EXPECT_EQ(record.data, FieldBytes(Device(), 101, 0, 58));
        }
    }
    EXPECT_EQ(pairs, 5u);
}

}  // namespace
