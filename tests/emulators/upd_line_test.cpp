// The emulated УПД over its pseudo-terminal, driven the way the workstation drives it: 5-byte
// commands out, replies of up to 20 bytes read with time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "emulators/hc_upd_dump.h"
#include "emulators/upd_command.h"
#include "emulators/upd_line.h"
#include "platform/cp1251_literal.h"
#include "platform/serial_port.h"

namespace {

using emulators::UpdArchive;
using emulators::UpdFaults;
using emulators::UpdLine;
using emulators::UpdLineOptions;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

const Bytes kAck = {0x00, 0x50, 0x50};

Bytes Command(char letter) {
    const auto l = static_cast<std::uint8_t>(letter);
    return {0x03, 0x01, 0x00, l, static_cast<std::uint8_t>(0x04 + l)};
}

std::uint8_t Sum(const Bytes& bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(sum);
}

bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(10000);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    return condition();
}

// The workstation's end of the line.
class Client {
  public:
    explicit Client(const std::string& path, std::uint32_t baud = 9600,
                    std::uint32_t silenceMs = 1500)
        : port_(platform::SerialPort::Open(path)) {
        EXPECT_NE(port_, nullptr);
        platform::DeviceControl dcb;
        EXPECT_TRUE(port_->GetCommState(dcb));
        dcb.baudRate = baud;
        dcb.parity = platform::kMarkParity;
        dcb.stopBits = platform::kTwoStopBits;
        EXPECT_TRUE(port_->SetCommState(dcb));
        EXPECT_TRUE(port_->SetCommTimeouts({100, 0, silenceMs, 0, 1000}));
    }
    void Send(const Bytes& bytes) {
        std::size_t done = 0;
        EXPECT_TRUE(port_->Write(bytes.data(), bytes.size(), done));
    }
    Bytes Read() {
        Bytes reply(20);
        std::size_t done = 0;
        EXPECT_TRUE(port_->Read(reply.data(), reply.size(), done));
        reply.resize(done);
        return reply;
    }
    Bytes Exchange(char letter) {
        Send(Command(letter));
        return Read();
    }

  private:
    std::unique_ptr<platform::SerialPort> port_;
};

// A 20-byte reply with its header, payload and sum checked; returns the payload.
Bytes Payload(const Bytes& reply, char letter, unsigned number) {
    EXPECT_EQ(reply.size(), 20u);
    if (reply.size() != 20) {
        return {};
    }
    EXPECT_EQ(reply[0], 0x01);
    EXPECT_EQ(reply[1], static_cast<std::uint8_t>(letter));
    EXPECT_EQ(reply[2], number);
    EXPECT_EQ(reply[19], Sum(reply, 19));
    return Bytes(reply.begin() + 3, reply.begin() + 19);
}

Bytes Padded(const std::string& name) {
    Bytes bytes(name.begin(), name.end());
    bytes.resize(16, 0);
    return bytes;
}

// Archive n (from 1): every byte is 16 * n + its block number, so a block names itself.
UpdArchive Archive(unsigned n, unsigned blocks, std::size_t tail = 0) {
    UpdArchive archive{"A" + std::to_string(n), {}};
    for (unsigned b = 1; b <= blocks; ++b) {
        archive.bytes.insert(archive.bytes.end(), 16, static_cast<std::uint8_t>(16 * n + b));
    }
    archive.bytes.resize(archive.bytes.size() - (tail == 0 ? 0 : 16 - tail));
    return archive;
}

std::vector<UpdArchive> ThreeArchives() {
    return {Archive(1, 2), Archive(2, 3), Archive(3, 1)};
}

TEST(UpdLine, CatalogGivesEachNameThenTheEndOfTheList) {
    const std::string sixteen = "ABCDEFGHIJKLMNOP";
    const std::string russian(W1251("Котельная №5"));
    UpdLine line({{"first", {1}}, {sixteen, {2}}, {russian, {3}}});
    Client client(line.SlavePath());
    EXPECT_EQ(client.Exchange('j'), kAck);
    EXPECT_EQ(Payload(client.Exchange('e'), 'E', 1), Padded("first"));
    EXPECT_EQ(Payload(client.Exchange('e'), 'E', 2), Padded(sixteen));
    EXPECT_EQ(Payload(client.Exchange('e'), 'E', 3), Padded(russian));
    EXPECT_EQ(client.Exchange('e'), kAck);
    EXPECT_EQ(client.Exchange('e'), kAck);
    const emulators::UpdStats stats = line.Stats();
    EXPECT_EQ(stats.opens, 1u);
    EXPECT_EQ(stats.entriesSent, 3u);
    EXPECT_EQ(stats.endOfListSent, 2u);
    EXPECT_EQ(stats.requests, 6u);
}

TEST(UpdLine, BlocksCoverTheArchiveWithItsTailPaddedThenTheEnd) {
    UpdLine line({Archive(1, 3, 5)});
    Client client(line.SlavePath());
    EXPECT_EQ(client.Exchange('j'), kAck);
    EXPECT_EQ(Payload(client.Exchange('g'), 'G', 1), Bytes(16, 0x11));
    EXPECT_EQ(Payload(client.Exchange('g'), 'G', 2), Bytes(16, 0x12));
    Bytes last(5, 0x13);
    last.resize(16, 0);
    EXPECT_EQ(Payload(client.Exchange('g'), 'G', 3), last);
    EXPECT_EQ(client.Exchange('g'), kAck);
    EXPECT_EQ(line.Stats().blocksSent, 3u);
}

TEST(UpdLine, TheCurrentArchiveFollowsOpenAndEntries) {
    struct Case {
        std::string before;  // commands sent before the block checked
        std::uint8_t block;  // what the next block holds: 16 * archive + block
    };
    const Case cases[] = {
        {"j", 0x11},   {"je", 0x11},    {"jee", 0x21},     {"jeee", 0x31},  {"jeeee", 0x31},
        {"jeg", 0x12}, {"jeegj", 0x11}, {"jeeeeej", 0x11}, {"jeege", 0x31}, {"jegge", 0x21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        UpdLine line(ThreeArchives());
        Client client(line.SlavePath());
        for (char letter : c.before) {
            EXPECT_FALSE(client.Exchange(letter).empty());
        }
        const Bytes block = client.Exchange('g');
        ASSERT_EQ(block.size(), 20u);
        EXPECT_EQ(block[3], c.block);
    }
}

TEST(UpdLine, AnEmptyCatalogAcknowledgesAndHasNothingToGive) {
    UpdLine line({});
    Client client(line.SlavePath());
    for (char letter : std::string("jegeg")) {
        EXPECT_EQ(client.Exchange(letter), kAck) << letter;
    }
    EXPECT_EQ(line.Stats().endOfListSent, 2u);
}

TEST(UpdLine, FaultsSpoilTheirReplyAndNothingElse) {
    struct Case {
        const char* name;
        void (*fault)(UpdFaults&);
        std::string commands;
        std::vector<std::size_t> sizes;  // reply sizes, in order
        std::vector<bool> sumsRight;     // of the 20-byte replies, in order
    };
    const Case cases[] = {
        {"silent", [](UpdFaults& f) { f.silent = true; }, "jeg", {0, 0, 0}, {}},
        {"no acknowledgement",
         [](UpdFaults& f) { f.noAcknowledgement = true; },
         "jej",
         {0, 20, 0},
         {true}},
        {"bad entry",
         [](UpdFaults& f) { f.badEntry = 2; },
         "jeee",
         {3, 20, 20, 20},
         {true, false, true}},
        {"bad block",
         [](UpdFaults& f) { f.badBlock = 2; },
         "jeegggg",
         {3, 20, 20, 20, 20, 20, 3},
         {true, true, true, false, true}},
        {"short block", [](UpdFaults& f) { f.shortBlock = 1; }, "jggg", {3, 10, 20, 3}, {true}},
        // The stray bytes come first; the 20-byte read stops short of the reply's end.
        {"garbage before block",
         [](UpdFaults& f) { f.garbageBeforeBlock = 1; },
         "jg",
         {3, 20},
         {false}},
        {"silent from block",
         [](UpdFaults& f) { f.silentFromBlock = 2; },
         "jggjeg",
         {3, 20, 0, 0, 0, 0},
         {true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdFaults faults;
        c.fault(faults);
        UpdLine line(ThreeArchives(), faults);
        Client client(line.SlavePath(), 9600, 300);
        std::vector<std::size_t> sizes;
        std::vector<bool> sums;
        for (char letter : c.commands) {
            const Bytes reply = client.Exchange(letter);
            sizes.push_back(reply.size());
            if (reply.size() == 20) {
                sums.push_back(reply[19] == Sum(reply, 19));
            }
        }
        EXPECT_EQ(sizes, c.sizes);
        EXPECT_EQ(sums, c.sumsRight);
    }
}

TEST(UpdLine, ALineThatIsGoneFailsEveryLaterRequest) {
    UpdFaults faults;
    faults.lineGoneAtBlock = 2;
    UpdLine line(ThreeArchives(), faults);
    auto port = platform::SerialPort::Open(line.SlavePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetCommTimeouts({100, 0, 300, 0, 1000}));
    std::size_t done = 0;
    Bytes reply(20);
    for (char letter : std::string("jg")) {
        ASSERT_TRUE(port->Write(Command(letter).data(), 5, done));
        ASSERT_TRUE(port->Read(reply.data(), reply.size(), done));
    }
    ASSERT_TRUE(port->Write(Command('g').data(), 5, done));
    const bool read = port->Read(reply.data(), reply.size(), done);
    EXPECT_TRUE(!read || done == 0);
    EXPECT_FALSE(port->Write(Command('g').data(), 5, done) && done == 5);
}

TEST(UpdLine, BadCommandsAreDiscardedAndTheNextGoodOneIsAnswered) {
    const Bytes wrongSum = {0x03, 0x01, 0x00, 0x6A, 0x00};
    const Bytes unknownLetter = Command('x');
    const Bytes strayThenOpen = {0x55, 0x03, 0x01, 0x00, 0x6A, 0x6E};
    const Bytes doubledStart = {0x03, 0x03, 0x01, 0x00, 0x6A, 0x6E};
    struct Case {
        const char* name;
        Bytes bytes;
        Bytes reply;
    };
    const Case cases[] = {{"wrong sum", wrongSum, {}},
                          {"unknown letter", unknownLetter, {}},
                          {"stray byte", strayThenOpen, kAck},
                          {"doubled start", doubledStart, kAck}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdLine line(ThreeArchives());
        Client client(line.SlavePath(), 9600, 300);
        client.Send(c.bytes);
        EXPECT_EQ(client.Read(), c.reply);
        EXPECT_EQ(line.Stats().commandsDiscarded, 1u);
        EXPECT_EQ(client.Exchange('j'), kAck);
    }
}

TEST(UpdLine, APauseInsideACommandDiscardsIt) {
    UpdLineOptions options;
    options.gapTimeoutMs = 30;
    UpdLine line(ThreeArchives(), {}, options);
    Client client(line.SlavePath(), 9600, 300);
    client.Send({0x03, 0x01});
    ASSERT_TRUE(WaitFor([&] { return line.Stats().commandsDiscarded == 1; }));
    client.Send({0x00, 0x6A, 0x6E});
    EXPECT_EQ(client.Read(), Bytes{});
    EXPECT_EQ(line.Stats().requests, 0u);
    EXPECT_EQ(client.Exchange('j'), kAck);
}

// 20 bytes of 12 bits at 1200 baud take 200 ms on the wire; half of it is a loose bound.
TEST(UpdLine, RepliesArePacedAtTheLineRate) {
    struct Case {
        const char* name;
        unsigned emulatorBaud;
        std::uint32_t clientBaud;
    };
    const Case cases[] = {{"set rate", 1200, 115200}, {"client's rate", 0, 1200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdLineOptions options;
        options.baud = c.emulatorBaud;
        UpdLine line(ThreeArchives(), {}, options);
        Client client(line.SlavePath(), c.clientBaud);
        ASSERT_EQ(client.Exchange('j'), kAck);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.Exchange('e').size(), 20u);
        EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(100));
    }
}

TEST(UpdLine, TraceShowsCommandsAndReplies) {
    std::vector<std::string> lines;
    std::mutex mutex;
    UpdLineOptions options;
    options.trace = [&](const std::string& text) {
        std::lock_guard lock(mutex);
        lines.push_back(text);
    };
    UpdLine line({}, {}, options);
    Client client(line.SlavePath());
    EXPECT_EQ(client.Exchange('j'), kAck);
    line.Stop();
    EXPECT_EQ(lines, (std::vector<std::string>{"rx 03 01 00 6A 6E", "tx 00 50 50"}));
}

TEST(UpdLine, NamesOverSixteenBytesAreRefused) {
    EXPECT_THROW(UpdLine(std::vector<UpdArchive>{{"ABCDEFGHIJKLMNOPQ", {}}}),
                 std::invalid_argument);
}

TEST(UpdLine, AnArchiveOfAHeatCalculatorIsItsDumpInWholeBlocks) {
    emulators::HcConfig config;
    config.version = 60;
    config.clockEpoch = 1710498030;
    config.hourlyRecords = 24;
    const UpdArchive archive = emulators::MakeUpdArchive("K1", config);
    EXPECT_EQ(archive.name, "K1");
    EXPECT_EQ(archive.bytes.size() % 16, 0u);
    EXPECT_EQ(archive.bytes, emulators::MakeUpdDump(emulators::HcDevice(config)));
    config.version = 45;
    EXPECT_THROW(emulators::MakeUpdArchive("K1", config), std::invalid_argument);
}

}  // namespace

namespace {

using emulators::ParseUpdArguments;
using emulators::UpdParseResult;

TEST(DevemuUpd, RefusesWhatItCannotServe) {
    struct Case {
        std::vector<std::string> args;
        std::string message;  // a part of it
    };
    const Case cases[] = {
        {{"--archive", "ABCDEFGHIJKLMNOPQ"}, "longer than 16"},
        {{"--archive", "Котельная №1 дом 2"}, "longer than 16"},
        {{"--archive", "日本"}, "Windows-1251"},
        {{"--archive-file", "NoPath"}, "NAME=PATH"},
        {{"--bad-block", "0"}, "from 1"},
        {{"--short-block", "x"}, "from 1"},
        {{"--baud", "10"}, "--baud"},
        {{"--duration"}, "needs a value"},
        {{"--address", "3"}, "unknown option"},
        {{"--report-day", "40"}, "report"},
        {{"extra"}, "unexpected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        const UpdParseResult parsed = ParseUpdArguments(c.args);
        EXPECT_EQ(parsed.action, UpdParseResult::Action::Error);
        EXPECT_NE(parsed.message.find(c.message), std::string::npos) << parsed.message;
    }
    EXPECT_EQ(ParseUpdArguments({"--silent", "--help"}).action, UpdParseResult::Action::Help);
}

TEST(DevemuUpd, TakesTheCatalogFaultsAndLine) {
    const UpdParseResult parsed = ParseUpdArguments({"--archive",
                                                     "Котельная №1",
                                                     "--archive=ABCDEFGHIJKLMNOP:9",
                                                     "--archive-file",
                                                     "Dump=a=b.dat",
                                                     "--archive",
                                                     "a:b",
                                                     "--field31",
                                                     "--hours",
                                                     "24",
                                                     "--no-ack",
                                                     "--silent-from-block=7",
                                                     "--bad-entry",
                                                     "2",
                                                     "--baud",
                                                     "1200",
                                                     "--link",
                                                     "/tmp/u",
                                                     "--duration",
                                                     "5",
                                                     "--verbose"});
    ASSERT_EQ(parsed.action, UpdParseResult::Action::Run) << parsed.message;
    const emulators::UpdRunOptions& run = parsed.options;
    ASSERT_EQ(run.archives.size(), 4u);
    EXPECT_EQ(run.archives[0].name, std::string(W1251("Котельная №1")));
    EXPECT_EQ(run.archives[0].seed, 1u);
    EXPECT_EQ(run.archives[1].name, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(run.archives[1].seed, 9u);
    EXPECT_EQ(run.archives[2].name, "Dump");
    EXPECT_EQ(run.archives[2].filePath, "a=b.dat");
    EXPECT_EQ(run.archives[3].name, "a:b");
    EXPECT_EQ(run.archives[3].seed, 4u);
    EXPECT_EQ(run.device.version, 60);
    EXPECT_TRUE(run.device.field31);
    EXPECT_EQ(run.device.hourlyRecords, 24u);
    EXPECT_TRUE(run.faults.noAcknowledgement);
    EXPECT_EQ(run.faults.silentFromBlock, 7u);
    EXPECT_EQ(run.faults.badEntry, 2u);
    EXPECT_FALSE(run.faults.silent);
    EXPECT_EQ(run.line.baud, 1200u);
    EXPECT_EQ(run.line.linkPath, "/tmp/u");
    EXPECT_EQ(run.durationS, 5u);
    EXPECT_TRUE(run.verbose);
    EXPECT_TRUE(ParseUpdArguments({}).options.archives.empty());
}

TEST(DevemuUpd, CatalogHoldsDumpsAndFiles) {
    const std::string path = ::testing::TempDir() + "upd_archive.bin";
    {
        std::ofstream file(path, std::ios::binary);
        file << "twenty bytes long..";
    }
    const UpdParseResult parsed = ParseUpdArguments(
        {"--archive", "One", "--archive-file", "Two=" + path, "--clock", "2024-03-15 10:20:30"});
    ASSERT_EQ(parsed.action, UpdParseResult::Action::Run) << parsed.message;
    const std::vector<UpdArchive> catalog = emulators::MakeUpdCatalog(parsed.options);
    ASSERT_EQ(catalog.size(), 2u);
    emulators::HcConfig device = parsed.options.device;
    device.seed = 1;
    EXPECT_EQ(catalog[0].bytes, emulators::MakeUpdArchive("One", device).bytes);
    EXPECT_EQ(catalog[1].bytes, Bytes(std::string_view("twenty bytes long..").begin(),
                                      std::string_view("twenty bytes long..").end()));
    std::remove(path.c_str());
    EXPECT_THROW(emulators::MakeUpdCatalog(parsed.options), std::runtime_error);
}

}  // namespace
