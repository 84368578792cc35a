// The data transfer device's dump of a version-60 device: records, tags, offsets, and that the
// answers a conversion makes from it are what the device itself answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "emulators/devemu_dump.h"
#include "emulators/hc_device.h"
#include "emulators/hc_upd_dump.h"
#include "emulators/hc_values.h"
#include "tests/emulators/hc_test_client.h"
#include "tests/support/scratch_folder.h"

namespace emulators {
namespace {

using namespace hctest;

// A record as it lies in the file: `bytes` from the length field on.
struct Record {
    std::size_t offset = 0;
    Bytes bytes;
    unsigned Length() const { return bytes[0] << 8 | bytes[1]; }
    Bytes Tag() const { return Bytes(bytes.begin() + 3, bytes.begin() + 8); }
    Bytes Data() const { return Bytes(bytes.begin() + 8, bytes.end()); }
};

bool IsStop(const Record& r) {
    return r.Tag() == Bytes{0xFF, 0x01, 0x35, 0x41, 0x00};
}

// Splits a dump into records by their length fields, up to the stop record; fails the test on
// a record that does not fit the file and on anything after the records but the fill of the
// last block (fewer than 16 bytes of 00 or of FF).
std::vector<Record> ParseRecords(const Bytes& file) {
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 2 <= file.size() && (records.empty() || !IsStop(records.back()))) {
        const std::size_t length = file[at] << 8 | file[at + 1];
        if (length < 6 || at + 2 + length > file.size()) {
            break;
        }
        Record r;
        r.offset = at;
        r.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
        EXPECT_EQ(r.bytes[2], 5) << "tag length of the record at " << at;
        records.push_back(std::move(r));
        at += 2 + length;
    }
    const Bytes tail(file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
    EXPECT_LT(tail.size(), kUpdBlockSize) << "bytes after the last record at " << at;
    EXPECT_TRUE(tail.empty() || tail == Bytes(tail.size(), 0x00) ||
                tail == Bytes(tail.size(), 0xFF))
        << "the last block is filled with 00 or FF";
    EXPECT_EQ(file.size() % kUpdBlockSize, 0u) << "whole blocks";
    return records;
}

std::vector<Record> WithTagStart(const std::vector<Record>& records, std::uint8_t first) {
    std::vector<Record> found;
    std::copy_if(records.begin(), records.end(), std::back_inserter(found),
                 [&](const Record& r) { return r.bytes[3] == first; });
    return found;
}

const Record* WithTag(const std::vector<Record>& records, const Bytes& tag) {
    for (const Record& r : records) {
        if (r.Tag() == tag) {
            return &r;
        }
    }
    return nullptr;
}

// The 58-byte answer a conversion makes of an hourly record, from the record offsets.
Bytes AnswerFromHourRecord(const Bytes& r) {
    Bytes answer{1, 0, 0,     r[13], r[12], r[11], r[10], r[9],  0,     0, 0, 0, 0,
                 0, 0, r[15], r[14], 1,     0,     4,     r[58], r[59], 0, 0, 3, 16};
    for (std::size_t at : {18, 26, 34, 42, 22, 30, 38, 46}) {
        const auto number = EncodeArchiveNumber(FloatAt(r, at));
        answer.insert(answer.end(), number.begin(), number.end());
    }
    return answer;
}

const Bytes kStartStopText{'0', '0', '5', '-', '0', '0', '1', '-', '0', '0', '1'};

class HcUpdDumpTest : public ::testing::Test {
  protected:
    HcUpdDumpTest() {
        config_.version = 60;
        config_.clockEpoch = 1710498030;  // 2024-03-15 10:20:30 UTC
    }
    Bytes FieldOf(HcDevice& device, std::uint8_t group, std::uint8_t subgroup, std::uint8_t field) {
        Client c(device);
        const auto found = FindInDeviceDirectory(c, group, subgroup, field);
        EXPECT_TRUE(found);
        return found ? c.Read(found->address, found->size) : Bytes{};
    }
    HcConfig config_;
};

TEST_F(HcUpdDumpTest, RecordsComeInOrderWithTheirTags) {
    HcDevice device(config_);
    const std::vector<Record> records = ParseRecords(MakeUpdDump(device));
    ASSERT_GT(records.size(), 10u);

    EXPECT_EQ(records.front().bytes.size(), 19u);
    EXPECT_EQ(records.front().Tag(), (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00}));
    EXPECT_EQ(records.front().Data(), kStartStopText);
    EXPECT_EQ(records.back().bytes.size(), 19u);
    EXPECT_EQ(records.back().Tag(), (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
    EXPECT_EQ(records.back().Data(), kStartStopText);

    const std::vector<Bytes> heads = {
        {0xE6, 0x00, 0x36, 0x11, 0x00}, {0xE6, 0x00, 0x39, 0x40, 0x00},
        {0xE6, 0x00, 0x3A, 0x40, 0x00}, {0xE6, 0x00, 0x3D, 0x20, 0x00},
        {0xE6, 0x01, 0x3D, 0x26, 0x00}, {0xE6, 0x02, 0x3D, 0x26, 0x00},
    };
    for (std::size_t i = 0; i < heads.size(); ++i) {
        EXPECT_EQ(records[i + 1].Tag(), heads[i]) << "record " << i + 1;
    }
    // Then hourly (0x21), daily (0x22) and monthly (0x23) records, each kind together.
    std::string kinds;
    for (std::size_t i = heads.size() + 1; i + 1 < records.size(); ++i) {
        const char kind = static_cast<char>('0' + records[i].bytes[3] - 0x20);
        if (kinds.empty() || kinds.back() != kind) {
            kinds += kind;
        }
    }
    EXPECT_EQ(kinds, "123");
    EXPECT_EQ(WithTagStart(records, 0x21).size(), config_.hourlyRecords);
}

TEST_F(HcUpdDumpTest, ClockAndFieldRecordsHoldTheDevicesBytes) {
    HcDevice device(config_);
    const std::vector<Record> records = ParseRecords(MakeUpdDump(device));
    const Record* clock = WithTag(records, {0xE6, 0x00, 0x36, 0x11, 0x00});
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->Length(), 12u);
    EXPECT_EQ(clock->Data(), (Bytes{30, 20, 10, 15, 3, 24})) << "plain numbers, not BCD";

    const Record* identity = WithTag(records, {0xE6, 0x00, 0x39, 0x40, 0x00});
    const Record* address = WithTag(records, {0xE6, 0x00, 0x3A, 0x40, 0x00});
    const Record* settings = WithTag(records, {0xE6, 0x00, 0x3D, 0x20, 0x00});
    const Record* pipe1 = WithTag(records, {0xE6, 0x01, 0x3D, 0x26, 0x00});
    const Record* pipe2 = WithTag(records, {0xE6, 0x02, 0x3D, 0x26, 0x00});
    ASSERT_TRUE(identity && address && settings && pipe1 && pipe2);
    EXPECT_EQ(identity->Data(), FieldOf(device, 101, 0, 57));
    EXPECT_EQ(address->Data(), FieldOf(device, 101, 0, 58));
    EXPECT_EQ(settings->Data(), FieldOf(device, 101, 0, 30));
    EXPECT_GT(settings->Length(), 20u);
    EXPECT_EQ(settings->Data()[14], 60);
    EXPECT_EQ(pipe1->Data(), FieldOf(device, 230, 1, 30)) << "raw floats";
    EXPECT_EQ(pipe2->Data(), FieldOf(device, 230, 2, 30));
}

TEST_F(HcUpdDumpTest, Field31IsTakenWhenTheDeviceHasIt) {
    config_.field31 = true;
    HcDevice device(config_);
    const std::vector<Record> records = ParseRecords(MakeUpdDump(device));
    const Record* settings = WithTag(records, {0xE6, 0x00, 0x3D, 0x20, 0x00});
    const Record* pipe1 = WithTag(records, {0xE6, 0x01, 0x3D, 0x26, 0x00});
    const Record* pipe2 = WithTag(records, {0xE6, 0x02, 0x3D, 0x26, 0x00});
    ASSERT_TRUE(settings && pipe1 && pipe2);
    EXPECT_EQ(settings->Data(), FieldOf(device, 101, 0, 31));
    EXPECT_EQ(settings->Data()[14], 60);
    EXPECT_EQ(pipe1->Data(), FieldOf(device, 230, 1, 31));
    EXPECT_EQ(pipe2->Data(), FieldOf(device, 230, 2, 31));
}

TEST_F(HcUpdDumpTest, HourlyRecordsConvertToWhatTheDeviceAnswers) {
    config_.hourlyRecords = 30;
    HcDevice device(config_);
    const std::vector<Record> hours = WithTagStart(ParseRecords(MakeUpdDump(device)), 0x21);
    ASSERT_EQ(hours.size(), 30u);
    Client c(device);
    for (std::size_t i = 0; i < hours.size(); ++i) {
        SCOPED_TRACE("hourly record " + std::to_string(i));
        const Bytes& r = hours[i].bytes;
        EXPECT_GE(hours[i].Length(), 58u);
        EXPECT_EQ(r[8], 1) << "data byte 0";
        const Bytes answer = c.Command({static_cast<std::uint8_t>(i == 0 ? 16 : 15)}, 58);
        EXPECT_EQ(AnswerFromHourRecord(r), answer);
    }
    EXPECT_EQ(
        (Bytes{hours[0].bytes[13], hours[0].bytes[12], hours[0].bytes[11], hours[0].bytes[10]}),
        (Bytes{24, 3, 15, 9}))
        << "newest first";
    EXPECT_EQ(c.Command({15}, 58)[0], 2) << "the device has no more than the dump";
}

TEST_F(HcUpdDumpTest, DailyAndMonthlyRecordsAreTheDevicesAnswers) {
    config_.missingDays = {2};
    HcDevice device(config_);
    const std::vector<Record> records = ParseRecords(MakeUpdDump(device));
    Client c(device);

    const std::vector<Record> days = WithTagStart(records, 0x22);
    EXPECT_EQ(days.size(), 69u) << "70 days less the missing one";
    bool sawFirstOfFebruary = false;
    for (const Record& day : days) {
        const Bytes data = day.Data();
        ASSERT_EQ(data.size(), 54u);
        EXPECT_EQ(data[0], 2);
        EXPECT_FALSE(data[3] == 13 && data[4] == 3) << "13 March is missing";
        const Bytes answer = c.Command({34, data[5], data[4], data[3], 0}, 55);
        EXPECT_EQ(Bytes(answer.begin() + 1, answer.end()), data);
        sawFirstOfFebruary |= data[3] == 1 && data[4] == 2 && data[5] == 24;
    }
    EXPECT_TRUE(sawFirstOfFebruary) << "the window a reading asks starts there";

    const std::vector<Record> months = WithTagStart(records, 0x23);
    EXPECT_EQ(months.size(), 26u);
    for (const Record& month : months) {
        const Bytes data = month.Data();
        ASSERT_EQ(data.size(), 54u);
        EXPECT_EQ(data[0], 3);
        const Bytes answer = c.Command({35, data[5], data[4], 1, 0}, 55);
        EXPECT_EQ(Bytes(answer.begin() + 1, answer.end()), data);
    }
}

TEST_F(HcUpdDumpTest, OptionsShapeTheFile) {
    HcDevice device(config_);
    const Bytes full = MakeUpdDump(device);

    UpdDumpOptions noYear;
    noYear.clockWithoutYear = true;
    const std::vector<Record> withoutYear = ParseRecords(MakeUpdDump(device, noYear));
    const Record* clock = WithTag(withoutYear, {0xE6, 0x00, 0x36, 0x11, 0x00});
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->Length(), 11u);
    EXPECT_EQ(clock->Data(), (Bytes{30, 20, 10, 15, 3}));

    UpdDumpOptions cut;
    cut.truncateAt = 1000;
    const Bytes truncated = MakeUpdDump(device, cut);
    ASSERT_EQ(truncated.size(), 1000u);
    EXPECT_TRUE(std::equal(truncated.begin(), truncated.end(), full.begin()));

    UpdDumpOptions drop;
    drop.drop = {DumpPart::Hourly, DumpPart::Clock, DumpPart::Stop};
    const std::vector<Record> dropped = ParseRecords(MakeUpdDump(device, drop));
    EXPECT_TRUE(WithTagStart(dropped, 0x21).empty());
    EXPECT_FALSE(WithTag(dropped, {0xE6, 0x00, 0x36, 0x11, 0x00}));
    EXPECT_EQ(dropped.back().bytes[3], 0x23) << "no stop record";

    UpdDumpOptions other;
    other.versionByte = 53;
    const std::vector<Record> version53 = ParseRecords(MakeUpdDump(device, other));
    const Record* settings = WithTag(version53, {0xE6, 0x00, 0x3D, 0x20, 0x00});
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->Data()[14], 53);
}

TEST_F(HcUpdDumpTest, TheLastBlockIsFilledWithZerosOrFf) {
    for (unsigned hours : {0u, 1u, 2u, 3u, 5u, 8u}) {
        config_.hourlyRecords = hours;  // 66 bytes an hour: fills of different lengths
        HcDevice device(config_);
        UpdDumpOptions bare;
        bare.padding = DumpPadding::None;
        const Bytes records = MakeUpdDump(device, bare);
        for (const auto& [padding, fill] :
             {std::pair{DumpPadding::Zero, 0x00}, std::pair{DumpPadding::Ff, 0xFF}}) {
            SCOPED_TRACE(testing::Message() << hours << " hours, fill " << fill);
            UpdDumpOptions options;
            options.padding = padding;
            const Bytes padded = MakeUpdDump(device, options);
            ASSERT_EQ(padded.size(), (records.size() + 15) / 16 * 16);
            EXPECT_TRUE(std::equal(records.begin(), records.end(), padded.begin()));
            EXPECT_EQ(
                Bytes(padded.begin() + static_cast<std::ptrdiff_t>(records.size()), padded.end()),
                Bytes(padded.size() - records.size(), static_cast<std::uint8_t>(fill)));
        }
    }
}

TEST_F(HcUpdDumpTest, PaddingToASizeFollowsTheStopRecord) {
    HcDevice device(config_);
    const Bytes natural = MakeUpdDump(device);
    UpdDumpOptions options;
    options.padding = DumpPadding::Ff;
    options.padTo = kUpdDumpLimit + 1;
    const Bytes big = MakeUpdDump(device, options);
    ASSERT_EQ(big.size(), kUpdDumpLimit + 1);
    UpdDumpOptions bare;
    bare.padding = DumpPadding::None;
    const std::size_t records = MakeUpdDump(device, bare).size();
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + static_cast<std::ptrdiff_t>(records),
                           natural.begin()));
    EXPECT_TRUE(std::all_of(big.begin() + static_cast<std::ptrdiff_t>(records), big.end(),
                            [](std::uint8_t b) { return b == 0xFF; }))
        << "no records made up: padding only";
}

TEST_F(HcUpdDumpTest, ALostBlockLeavesTheFileSixteenBytesShort) {
    HcDevice device(config_);
    const Bytes whole = MakeUpdDump(device);
    const std::size_t blocks = whole.size() / kUpdBlockSize;
    for (const std::vector<std::size_t>& lost :
         std::vector<std::vector<std::size_t>>{{1}, {7}, {blocks}, {3, 9}, {9, 3}, {blocks + 1}}) {
        SCOPED_TRACE(testing::PrintToString(lost));
        UpdDumpOptions options;
        options.lostBlocks = lost;
        Bytes expected = whole;
        std::vector<std::size_t> descending = lost;
        std::sort(descending.rbegin(), descending.rend());
        for (std::size_t block : descending) {
            if (block <= blocks) {
                const auto from = expected.begin() + static_cast<std::ptrdiff_t>((block - 1) * 16);
                expected.erase(from, from + 16);
            }
        }
        EXPECT_EQ(MakeUpdDump(device, options), expected);
    }
}

TEST_F(HcUpdDumpTest, DumpOptionsOfTheCommandLine) {
    const DumpParseResult r = ParseDumpArguments(
        {"--output", "d.dat", "--pad", "ff", "--size=4096", "--lose-block", "3,17"});
    ASSERT_EQ(r.action, DumpParseResult::Action::Run) << r.message;
    EXPECT_EQ(r.dump.padding, DumpPadding::Ff);
    EXPECT_EQ(r.dump.padTo, 4096u);
    EXPECT_EQ(r.dump.lostBlocks, (std::vector<std::size_t>{3, 17}));
    EXPECT_EQ(ParseDumpArguments({"--output", "d.dat"}).dump.padding, DumpPadding::Zero);
    EXPECT_EQ(ParseDumpArguments({"--output", "d.dat", "--pad=none"}).dump.padding,
              DumpPadding::None);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--output", "x", "--pad", "2000"},
                                               {"--output", "x", "--pad", "FF00"},
                                               {"--output", "x", "--lose-block", "0"},
                                               {"--output", "x", "--lose-block", "3,"},
                                               {"--output", "x", "--size", "-1"}}) {
        EXPECT_EQ(ParseDumpArguments(bad).action, DumpParseResult::Action::Error)
            << testing::PrintToString(bad);
    }
    for (const char* option : {"--pad", "--size", "--lose-block", "zero", "ff", "none"}) {
        EXPECT_NE(DumpUsage().find(option), std::string::npos) << option;
    }
}

TEST_F(HcUpdDumpTest, TheFileHoldsTheSameBytesAndOnlyVersion60IsDumped) {
    HcDevice device(config_);
    testsupport::ScratchFolder folder;
    const std::string path = (folder.Path() / "upd.dat").string();
    WriteUpdDump(device, path);
    std::ifstream file(path, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, MakeUpdDump(device));
    EXPECT_THROW(WriteUpdDump(device, (folder.Path() / "no" / "such.dat").string()),
                 std::runtime_error);

    config_.version = 53;
    HcDevice days180(config_);
    EXPECT_THROW(MakeUpdDump(days180), std::invalid_argument);
}

}  // namespace
}  // namespace emulators
