// The conversion of a version-60 dump, checked against data files worked out by hand.
#include "protocol/tv540v60upd.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_device.h"
#include "emulators/hc_upd_dump.h"
#include "platform/cp1251_literal.h"
#include "platform/ini_file.h"
#include "tests/support/scratch_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes Record(const Bytes& tag, const Bytes& data) {
    const std::size_t length = 6 + data.size();
    Bytes record = {static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 5};
    record.insert(record.end(), tag.begin(), tag.end());
    record.insert(record.end(), data.begin(), data.end());
    return record;
}

void PutFloat(Bytes& bytes, std::size_t at, float value) {
    std::memcpy(&bytes[at], &value, 4);
}
void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(&bytes[at], &value, 4);
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

const Bytes kMarkText = {0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31};
const Bytes kStart = Record({0xFF, 0x00, 0x35, 0x41, 0x00}, kMarkText);
const Bytes kStop = Record({0xFF, 0x01, 0x35, 0x41, 0x00}, kMarkText);
const Bytes kIdentity = Record({0xE6, 0x00, 0x39, 0x40, 0x00}, {'1', '2', '3', '4', '5', 0, 0, 0});

Bytes Parameters(std::uint8_t version) {
    Bytes data(24, 0);
    data[14] = version;
    return Record({0xE6, 0x00, 0x3D, 0x20, 0x00}, data);
}

Bytes PipeFloats(std::uint8_t pipe) {
    Bytes data(8, 0);
    PutFloat(data, 0, 1.0f);
    PutFloat(data, 4, -1.0f);
    return Record({0xE6, pipe, 0x3D, 0x26, 0x00}, data);
}

// An hourly dump record for 13 h on 07.12.24: the values sit at the record offsets the
// conversion reads (offsets count from the length field).
Bytes HourRecordOfDump() {
    Bytes data(52, 0);
    data[0] = 1;
    data[1] = 0x11;  // record offset 9
    data[2] = 13;    // hour
    data[3] = 7;
    data[4] = 12;
    data[5] = 24;
    data[6] = 0xA1;  // 14
    data[7] = 0xA2;  // 15
    for (int k = 0; k < 8; ++k) {
        PutFloat(data, 10 + 4 * k, static_cast<float>(k + 1));  // offsets 18, 22, ... 46
    }
    data[50] = 0xB1;  // 58
    data[51] = 0xB2;  // 59
    return Record({0x21, 0x00, 0x00, 0x00, 0x01}, data);
}

// A daily (type 2) or monthly (type 3) record: the device answer from its type byte on.
Bytes ArchiveRecordOfDump(std::uint8_t tag0, std::uint8_t type, int day, int month, int year) {
    Bytes data(54, 0);
    data[0] = type;
    data[3] = static_cast<std::uint8_t>(day);
    data[4] = static_cast<std::uint8_t>(month);
    data[5] = static_cast<std::uint8_t>(year);
    PutU32(data, 6, 7200);      // C2: 2 hours
    PutFloat(data, 26, 10.0f);  // Q10 (answer offset 27)
    PutFloat(data, 10, 1.5f);   // Q6 (answer offset 11)
    return Record({tag0, 0x00, 0x24, 0x29, 0x00}, data);
}

Bytes Clock(bool withYear) {
    Bytes data = {10, 20, 13, 7, 12};
    if (withYear) {
        data.push_back(24);
    }
    return Record({0xE6, 0x00, 0x36, 0x11, 0x00}, data);
}

Bytes Dump(std::uint8_t version = 60, bool clockWithYear = true) {
    return Join({kStart, Clock(clockWithYear), kIdentity,
                 Record({0xE6, 0x00, 0x3A, 0x40, 0x00}, {0xC4, 0xEE, 0xEC}),  // "Дом" in 1251
                 Parameters(version), PipeFloats(1), PipeFloats(2), HourRecordOfDump(),
                 ArchiveRecordOfDump(0x22, 2, 5, 12, 24), ArchiveRecordOfDump(0x23, 3, 1, 3, 24),
                 kStop});
}

// The 58-byte answer the conversion makes of the hourly record, worked out by hand.
Bytes ExpectedHourAnswer() {
    Bytes answer = {1, 0, 0,    24,   12, 7, 13, 0x11, 0,    0, 0, 0, 0,
                    0, 0, 0xA2, 0xA1, 1,  0, 4,  0xB1, 0xB2, 0, 0, 3, 16};
    for (int value : {1, 3, 5, 7, 2, 4, 6, 8}) {
        answer.insert(answer.end(), {0x00, 0x00, static_cast<std::uint8_t>(value), 0x81});
    }
    return answer;
}

Bytes ChannelRecord(std::uint8_t kind, std::uint8_t tag1, std::uint8_t tag2, int slots, int slot,
                    const Bytes& value) {
    Bytes data(slots * 8, 0);
    if (slot >= 0) {
        std::copy(value.begin(), value.end(), data.begin() + slot * 8);
    }
    return Record({kind, tag1, tag2, 0x29, 0x00}, data);
}

Bytes ExpectedChannels(std::uint8_t kind, int slots, int slot) {
    const Bytes ten = {0, 0, 0, 0, 0, 0, 0x01, 0x82};            // 10.0
    const Bytes oneAndHalf = {0, 0, 0, 0, 0, 0x50, 0x01, 0x81};  // 1.5
    const Bytes twoHours = {0, 0, 0, 0, 0, 0, 0x02, 0x81};       // 7200 s
    return Join({ChannelRecord(kind, 0x01, 0x21, slots, slot, ten),
                 ChannelRecord(kind, 0x02, 0x21, slots, -1, {}),
                 ChannelRecord(kind, 0x01, 0x23, slots, -1, {}),
                 ChannelRecord(kind, 0x02, 0x23, slots, -1, {}),
                 ChannelRecord(kind, 0x01, 0x1F, slots, slot, oneAndHalf),
                 ChannelRecord(kind, 0x02, 0x1F, slots, -1, {}),
                 ChannelRecord(kind, 0x01, 0x20, slots, -1, {}),
                 ChannelRecord(kind, 0x02, 0x20, slots, -1, {}),
                 ChannelRecord(kind, 0x00, 0x1F, slots, slot, twoHours),
                 ChannelRecord(kind, 0x01, 0x22, slots, -1, {}),
                 ChannelRecord(kind, 0x02, 0x22, slots, -1, {})});
}

Bytes ExpectedConversion(const Bytes& text58) {
    Bytes hour = {0x00, 0x40, 0x05, 0x09, 0x00, 0x00, 0x00, 0x01};
    const Bytes answer = ExpectedHourAnswer();
    hour.insert(hour.end(), answer.begin() + 1, answer.end());
    unsigned sum = 0;
    for (std::uint8_t b : hour) {
        sum += b;
    }
    hour.push_back(static_cast<std::uint8_t>(sum));
    const Bytes converted = {0x00, 0x00, 0x01, 0x81, 0x9A, 0x99, 0x98, 0x81};
    return Join({kStart,
                 Record({0xE6, 0x00, 0x36, 0x11, 0x00}, {0x10, 0x20, 0x13, 0x07, 0x12, 0x24}),
                 kIdentity, Record({0xE6, 0x00, 0x3A, 0x40, 0x00}, text58), Parameters(60),
                 Record({0xE6, 0x01, 0x3D, 0x26, 0x00}, converted),
                 Record({0xE6, 0x02, 0x3D, 0x26, 0x00}, converted), hour,
                 // 05.12.24 is day 5 of the current month: index 31 + 4.
                 ExpectedChannels(0x0B, 62, 35),
                 // March 2024 is the 15th month from January 2023.
                 ExpectedChannels(0x0C, 24, 14), kStop});
}

class DumpConversion : public ::testing::Test {
  protected:
    fs::path Dat() const { return folder_.Path() / "dat"; }
    bool Convert(const platform::IniFile& settings = {}) {
        protocol::CTV540v60Upd converter;
        return converter.ConvertDump(Dat(), settings);
    }
    testsupport::ScratchFolder folder_;
};

TEST_F(DumpConversion, RewritesTheDumpAsADirectReadingWouldHaveWrittenIt) {
    WriteAll(Dat(), Dump());
    ASSERT_TRUE(Convert());
    EXPECT_EQ(ReadAll(Dat()), ExpectedConversion({0xC4, 0xEE, 0xEC}));
}

TEST_F(DumpConversion, WindowsTextOfTheDeviceIsStoredInTheOemCodePage) {
    platform::IniFile settings;
    settings.Parse(std::string(
        W1251("[Чтение данных из УПД]\nтип=T\n[T версия 60]\nкодировка текста=windows\n")));
    WriteAll(Dat(), Dump());
    ASSERT_TRUE(Convert(settings));
    EXPECT_EQ(ReadAll(Dat()), ExpectedConversion({0x84, 0xAE, 0xAC}));
}

TEST_F(DumpConversion, AMissingYearComesFromTheArchiveRecordsOfThatMonth) {
    WriteAll(Dat(), Dump(60, false));
    ASSERT_TRUE(Convert());
    EXPECT_EQ(ReadAll(Dat()), ExpectedConversion({0xC4, 0xEE, 0xEC}));
}

TEST_F(DumpConversion, OtherVersionsAndRefusedDumpsStayAsTheyWere) {
    const Bytes version53 = Dump(53);
    WriteAll(Dat(), version53);
    EXPECT_TRUE(Convert()) << "a dump of another version counts as converted";
    EXPECT_EQ(ReadAll(Dat()), version53);

    Bytes tooLarge = Dump();
    tooLarge.resize(protocol::kMaxDumpSize + 1, 0);
    WriteAll(Dat(), tooLarge);
    EXPECT_FALSE(Convert());
    EXPECT_EQ(ReadAll(Dat()), tooLarge);

    const Bytes full = Dump();
    for (std::size_t cut : {full.size() - 1, full.size() / 2, std::size_t{1}}) {
        const Bytes truncated(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        WriteAll(Dat(), truncated);
        EXPECT_FALSE(Convert()) << cut;
        EXPECT_EQ(ReadAll(Dat()), truncated);
    }

    // Without a clock nothing can be dated.
    const Bytes noClock = Join({kStart, Parameters(60), HourRecordOfDump(), kStop});
    WriteAll(Dat(), noClock);
    EXPECT_FALSE(Convert());
    EXPECT_EQ(ReadAll(Dat()), noClock);

    EXPECT_FALSE(Convert()) << "the files are still there";
    fs::remove(Dat());
    EXPECT_FALSE(Convert()) << "no file";
    for (const auto& entry : fs::directory_iterator(folder_.Path())) {
        EXPECT_EQ(entry.path().filename(), "dat") << "no temporary file left";
    }
}

TEST_F(DumpConversion, ShortRecordsAreSkippedNotRead) {
    // A daily record one byte too short for a 55-byte answer, and an hourly one of L = 57.
    Bytes shortDay = ArchiveRecordOfDump(0x22, 2, 5, 12, 24);
    shortDay.resize(shortDay.size() - 2);
    shortDay[1] = static_cast<std::uint8_t>(shortDay.size() - 2);
    Bytes shortHour = HourRecordOfDump();
    shortHour.resize(shortHour.size() - 1);
    shortHour[1] = static_cast<std::uint8_t>(shortHour.size() - 2);
    WriteAll(Dat(), Join({kStart, Clock(true), Parameters(60), shortHour, shortDay, kStop}));
    ASSERT_TRUE(Convert());
    const Bytes converted = ReadAll(Dat());
    const Bytes expected = Join(
        {kStart, Record({0xE6, 0x00, 0x36, 0x11, 0x00}, {0x10, 0x20, 0x13, 0x07, 0x12, 0x24}),
         Parameters(60), ExpectedChannels(0x0B, 62, -1), ExpectedChannels(0x0C, 24, -1), kStop});
    // No hourly record and channel records of zeros: neither short record was taken.
    EXPECT_EQ(converted, expected);
}

TEST_F(DumpConversion, AnswersForDaysAtTheExactMinimumLengthLoseTheirLastByte) {
    protocol::CTV540v60Upd converter;
    Bytes day = ArchiveRecordOfDump(0x22, 2, 5, 12, 24);
    day.resize(day.size() - 1);  // L = 59 = answer length + 4
    day[1] = 59;
    day[8 + 52] = 0x77;  // the last data byte there is
    ASSERT_TRUE(converter.LoadDump(Join({kStart, day})));
    const std::uint8_t command[5] = {34, 24, 12, 5, 0};
    std::uint8_t answer[55];
    std::memset(answer, 0xEE, sizeof answer);
    ASSERT_TRUE(converter.ExecuteCommand(5, 55, command, answer, 0));
    EXPECT_EQ(answer[0], 1);
    EXPECT_EQ(answer[53], 0x77);
    EXPECT_EQ(answer[54], 0x00) << "53 bytes copied, the rest zero";
    const std::uint8_t otherDay[5] = {34, 24, 12, 6, 0};
    ASSERT_TRUE(converter.ExecuteCommand(5, 55, otherDay, answer, 0));
    EXPECT_EQ(answer[0], 2);
    const std::uint8_t unknown[1] = {4};
    EXPECT_FALSE(converter.ExecuteCommand(1, 7, unknown, answer, 0));
}

// The device hands a dump over in 16-byte blocks; what fills the last one, or anything after the
// stop record, is not part of the dump.
TEST_F(DumpConversion, WhatFollowsTheStopRecordIsIgnored) {
    const Bytes dump = Dump();
    const std::size_t fill = 16 - dump.size() % 16;
    for (const Bytes& tail : std::vector<Bytes>{Bytes(fill, 0x00), Bytes(fill, 0xFF),
                                                Bytes(fill + 16, 0xFF), Bytes{0x00, 0x11, 0x05},
                                                Join({kStart, Clock(true), Bytes(40, 0x5A)})}) {
        SCOPED_TRACE(testing::PrintToString(tail));
        WriteAll(Dat(), Join({dump, tail}));
        ASSERT_TRUE(Convert());
        EXPECT_EQ(ReadAll(Dat()), ExpectedConversion({0xC4, 0xEE, 0xEC}));
    }
}

TEST_F(DumpConversion, WithoutAStopRecordTheRecordsMayEndInTheFillOfTheLastBlock) {
    Bytes withoutStop = Dump();
    withoutStop.resize(withoutStop.size() - kStop.size());
    Bytes expected = ExpectedConversion({0xC4, 0xEE, 0xEC});
    expected.resize(expected.size() - kStop.size());
    for (const std::uint8_t fill : {0x00, 0xFF}) {
        for (std::size_t count : {0, 1, 2, 15}) {
            SCOPED_TRACE(testing::Message() << count << " bytes of " << int{fill});
            WriteAll(Dat(), Join({withoutStop, Bytes(count, fill)}));
            ASSERT_TRUE(Convert());
            EXPECT_EQ(ReadAll(Dat()), expected);
        }
    }
}

// Where the records break off before a stop record and not in the fill of the last block, a
// block was lost or the file is damaged: the record that swallowed the gap looks whole.
TEST_F(DumpConversion, RecordsBreakingOffInsideTheDumpAreRefused) {
    Bytes withoutStop = Dump();
    withoutStop.resize(withoutStop.size() - kStop.size());
    const Bytes stopHead(kStop.begin(), kStop.begin() + 16);
    const Bytes stopEnd(kStop.begin() + 16, kStop.end());
    for (const Bytes& tail :
         std::vector<Bytes>{Bytes(16, 0x00), Bytes(16, 0xFF), Bytes{0x00, 0xFF}, stopEnd,
                            Join({stopEnd, Bytes(13, 0x00)}), Join({Bytes(4, 0x00), stopHead}),
                            Bytes{0x00, 0x09, 0x04, 1, 2, 3, 4, 5, 6, 7, 8}}) {
        SCOPED_TRACE(testing::PrintToString(tail));
        const Bytes damaged = Join({withoutStop, tail});
        WriteAll(Dat(), damaged);
        EXPECT_FALSE(Convert());
        EXPECT_EQ(ReadAll(Dat()), damaged);
    }
}

TEST_F(DumpConversion, NothingToConvertIsRefused) {
    for (const Bytes& dump : std::vector<Bytes>{{},
                                                Bytes(15, 0x00),
                                                Bytes(16, 0xFF),
                                                Bytes(4096, 0x00),
                                                Join({Bytes(16, 0), kStart})}) {
        SCOPED_TRACE(dump.size());
        WriteAll(Dat(), dump);
        EXPECT_FALSE(Convert());
        EXPECT_EQ(ReadAll(Dat()), dump);
    }
}

// Dumps of an emulated device as the device delivers them: whole blocks, filled with zeros or
// FF, or with a block lost on the way.
class EmulatedDumpConversion : public DumpConversion {
  protected:
    EmulatedDumpConversion() {
        config_.version = 60;
        config_.clockEpoch = 1710498030;  // 2024-03-15 10:20:30 UTC
    }
    Bytes Dumped(const emulators::UpdDumpOptions& options) {
        const emulators::HcDevice device(config_);
        return emulators::MakeUpdDump(device, options);
    }
    // Converted bytes, or empty when the conversion refused the dump and left it untouched.
    Bytes Converted(const Bytes& dump) {
        WriteAll(Dat(), dump);
        if (Convert()) {
            return ReadAll(Dat());
        }
        EXPECT_EQ(ReadAll(Dat()), dump) << "refused and untouched";
        return {};
    }
    emulators::HcConfig config_;
};

TEST_F(EmulatedDumpConversion, ZeroOrFfFillConvertsToTheSameRecords) {
    for (unsigned hours : {0u, 1u, 3u, 5u, 24u}) {
        config_.hourlyRecords = hours;
        emulators::UpdDumpOptions options;
        options.padding = emulators::DumpPadding::None;
        const Bytes bare = Converted(Dumped(options));
        ASSERT_FALSE(bare.empty()) << hours;
        for (auto padding : {emulators::DumpPadding::Zero, emulators::DumpPadding::Ff}) {
            SCOPED_TRACE(testing::Message() << hours << " hours, fill " << int(padding));
            options.padding = padding;
            const Bytes dump = Dumped(options);
            EXPECT_EQ(dump.size() % 16, 0u);
            EXPECT_EQ(Converted(dump), bare);
        }
    }
}

// A lost block leaves the record around it looking whole, holding the next 16 bytes, and shifts
// every later record; no record of such a dump can be trusted to be in its place.
TEST_F(EmulatedDumpConversion, ADumpWithALostBlockIsRefusedWhereverTheBlockWas) {
    config_.hourlyRecords = 6;
    const emulators::HcDevice device(config_);
    for (auto padding : {emulators::DumpPadding::Zero, emulators::DumpPadding::Ff}) {
        emulators::UpdDumpOptions options;
        options.padding = padding;
        const std::size_t blocks = emulators::MakeUpdDump(device, options).size() / 16;
        for (std::size_t block = 1; block <= blocks; ++block) {
            options.lostBlocks = {block};
            EXPECT_TRUE(Converted(emulators::MakeUpdDump(device, options)).empty())
                << "block " << block << " of " << blocks << ", fill " << int(padding);
        }
    }
}

// Runs `check` as an ordinary user: root writes wherever it likes, so under root the check runs
// in a child that has given root up. The dump belongs to that user.
bool AsOrdinaryUser(const fs::path& dump, const std::function<bool()>& check) {
    if (::geteuid() != 0) {
        return check();
    }
    if (::chown(dump.c_str(), 65534, 65534) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped && check() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

TEST_F(DumpConversion, ThroughSymbolicLinksTheTargetIsConvertedAndTheLinksStay) {
    fs::create_directory(folder_.Path() / "downloads");
    const fs::path target = folder_.Path() / "downloads" / "upd.bin";
    WriteAll(target, Dump());
    fs::create_symlink("downloads/upd.bin", folder_.Path() / "link");  // relative to its folder
    fs::create_symlink(folder_.Path() / "link", Dat());                // a link to the link
    ASSERT_TRUE(Convert());
    EXPECT_TRUE(fs::is_symlink(Dat()));
    EXPECT_TRUE(fs::is_symlink(folder_.Path() / "link"));
    EXPECT_EQ(ReadAll(target), ExpectedConversion({0xC4, 0xEE, 0xEC}));
    EXPECT_EQ(fs::directory_iterator(folder_.Path() / "downloads")->path(), target)
        << "no temporary file left";

    fs::remove(target);
    EXPECT_FALSE(Convert()) << "a link that leads nowhere";
    EXPECT_TRUE(fs::is_symlink(Dat()));
}

TEST_F(DumpConversion, TheConvertedFileKeepsThePermissionsAndOwner) {
    WriteAll(Dat(), Dump());
    ASSERT_EQ(::chmod(Dat().c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(Dat().c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(Convert());
    EXPECT_EQ(ReadAll(Dat()), ExpectedConversion({0xC4, 0xEE, 0xEC}));
    EXPECT_EQ(ModeOf(Dat()), 0640u);
    struct stat info {};
    ASSERT_EQ(::stat(Dat().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, root ? 65534u : ::geteuid());
    EXPECT_EQ(info.st_gid, root ? 65534u : ::getegid());
}

TEST_F(DumpConversion, AReadOnlyDumpIsRefusedAndUntouched) {
    const Bytes dump = Dump();
    WriteAll(Dat(), dump);
    ASSERT_EQ(::chmod(Dat().c_str(), 0444), 0);
    EXPECT_FALSE(Convert()) << "read-only, also for root";
    EXPECT_EQ(ReadAll(Dat()), dump);
    EXPECT_EQ(ModeOf(Dat()), 0444u);

    fs::create_symlink(Dat(), folder_.Path() / "link");
    protocol::CTV540v60Upd converter;
    EXPECT_FALSE(converter.ConvertDump(folder_.Path() / "link", {}));
    EXPECT_EQ(ReadAll(Dat()), dump);
}

TEST_F(DumpConversion, AFolderThatRefusesTheTemporaryFileLeavesTheDumpUntouched) {
    const Bytes dump = Dump();
    WriteAll(Dat(), dump);
    const fs::path dat = Dat();
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder_.Path().c_str(), 0555), 0);
    }
    EXPECT_TRUE(AsOrdinaryUser(dat, [&] {
        protocol::CTV540v60Upd converter;
        return !converter.ConvertDump(dat, {}) && ReadAll(dat) == dump;
    }));
    ::chmod(folder_.Path().c_str(), 0755);
    EXPECT_EQ(ReadAll(Dat()), dump);
    EXPECT_EQ(fs::directory_iterator(folder_.Path())->path(), Dat()) << "no temporary file";
}

}  // namespace
