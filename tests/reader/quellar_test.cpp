// quellar's flow, run in-process against an emulated heat calculator with short waits.
#include "reader/quellar_run.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "platform/serial_port.h"
#include "protocol/frames.h"
#include "tests/support/emulated_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using emulators::Fault;
using emulators::FaultKind;
namespace fs = std::filesystem;

const char* const kSpeedMessage =
    "Wrong speed (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)\n";

struct Outcome {
    int exitCode = 0;
    std::string printed;
};

Outcome RunQuellar(const std::vector<std::string>& arguments, std::uint32_t retryWaitMs = 0) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    reader::QuellarOptions options;
    options.retryWaitMs = retryWaitMs;
    options.timing.statusPollMs = 5;
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
        port_ = std::make_unique<testsupport::EmulatedPort>(5, std::move(devices));
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
                    std::string deep = "0") {
        return RunQuellar(
            {"5", "115200", deep, "30", abonent, List(lines).string(), Output().string()});
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
        RunQuellar({"5", "115200", "0", "30", "1", List({kStart, kStop}).string(),
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

TEST_F(Quellar, AFailedHourAttemptStartsAgainWithTheNewestHour) {
    auto config = testsupport::Device();
    config.hourlyRecords = 3;
    Bind({config});
    // The fifth frame is the answer read of the second hour: its attempt fails after one record.
    Device().InjectFault(Fault{FaultKind::LostAnswer, 5, 1, 0});
    const Outcome outcome = RunList({kStart, kStop}, "1", "1");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.printed;
    const Bytes file = ReadAll(Output());
    ASSERT_EQ(file.size(), 19u + 4u * 99u + 19u) << "one record of the failed attempt, three more";
    const std::vector<Bytes> answers = HourAnswers(config, 3);
    const Bytes first(file.begin() + 19 + 8, file.begin() + 19 + 98);
    const Bytes again(file.begin() + 19 + 99 + 8, file.begin() + 19 + 99 + 98);
    EXPECT_EQ(first, again) << "the newest hour, read again";
    EXPECT_EQ(file[19 + 3 * 99 + 5], 3) << "the counter goes on";
}

TEST_F(Quellar, ADeviceWithoutHoursFailsADeepRead) {
    auto config = testsupport::Device();
    config.refusedCommands = {16, 15, 12};
    Bind({config});
    const Outcome outcome = RunList({kStart, kStop}, "1", "1");
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(Output()));
}

TEST_F(Quellar, ReadsTheShippedParameterList) {
    const std::string list = std::string(CALVIX_SOURCE_DIR) + "/site/hc/tv540wi.opr";
    const Outcome outcome = RunQuellar({"5", "115200", "0", "30", "1", list, Output().string()});
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
