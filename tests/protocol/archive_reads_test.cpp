// Archive reads against emulated devices of versions 60 and 53. Expected values come from the
// devices' own answers, asked frame by frame of a twin, and from the directory walked by hand.
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "emulators/hc_upd_dump.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/device_dates.h"
#include "protocol/protocol_error.h"
#include "protocol/tv540v60.h"
#include "protocol/tv540v60upd.h"
#include "tests/emulators/hc_test_client.h"
#include "tests/support/direct_modem.h"
#include "tests/support/scratch_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using emulators::Fault;
using emulators::FaultKind;
using emulators::hctest::Client;
namespace fs = std::filesystem;

constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC

emulators::HcConfig Version(int version) {
    emulators::HcConfig config;
    config.version = version;
    config.seed = 11;
    config.clockEpoch = kClock;
    config.hourlyRecords = 5;
    return config;
}

struct Record {
    Bytes tag;
    Bytes data;
    Bytes whole;
};

std::vector<Record> Records(const Bytes& file) {
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 2 <= file.size()) {
        const std::size_t length = (file[at] << 8) | file[at + 1];
        if (at + 2 + length > file.size()) {
            ADD_FAILURE() << "record at " << at << " runs past the end";
            break;
        }
        Record record;
        record.whole.assign(file.begin() + at, file.begin() + at + 2 + length);
        if (length >= 6) {
            record.tag.assign(file.begin() + at + 3, file.begin() + at + 8);
            record.data.assign(file.begin() + at + 8, file.begin() + at + 2 + length);
        }
        records.push_back(record);
        at += 2 + length;
    }
    EXPECT_EQ(at, file.size());
    return records;
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An 8-byte device number read back independently of the encoder: 0.d0..d6 x 10^e.
long double DecodeEight(const Bytes& bytes, std::size_t at) {
    auto digit = [&](std::size_t i, bool high) {
        return high ? bytes[at + i] >> 4 : bytes[at + i] & 0x0F;
    };
    if (std::all_of(bytes.begin() + at, bytes.begin() + at + 8,
                    [](std::uint8_t b) { return b == 0; })) {
        return 0;
    }
    const int digits[7] = {bytes[at + 6],   digit(5, true), digit(5, false), digit(4, true),
                           digit(4, false), digit(3, true), digit(3, false)};
    long double mantissa = 0;
    for (int d : digits) {
        mantissa = mantissa * 10 + d;
    }
    return mantissa / 1e7L * std::pow(10.0L, bytes[at + 7] - 128);
}

float FloatAt(const Bytes& bytes, std::size_t at) {
    float value = 0;
    std::memcpy(&value, &bytes[at], 4);
    return value;
}

std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, &bytes[at], 4);
    return value;
}

// Records the progress calls; asks to stop when the text is `stopAt` at `position`.
class RecordingProgress : public protocol::ArchiveProgress {
  public:
    bool Report(std::string_view text, int position, int maximum) override {
        texts.emplace_back(text);
        last = {position, maximum};
        return !stopText.empty() && text == stopText && position >= stopPosition;
    }
    std::vector<std::string> texts;
    std::pair<int, int> last;
    std::string stopText;
    int stopPosition = 0;
};

class ArchiveReads : public ::testing::Test {
  protected:
    void Make(const emulators::HcConfig& config) {
        config_ = config;
        device_ = std::make_unique<emulators::HcDevice>(config);
        twin_ = std::make_unique<emulators::HcDevice>(config);
        modem_ = std::make_unique<testsupport::DirectModem>(*device_);
        link_ = testsupport::DirectLink<protocol::CTV540v60>(*modem_);
    }
    fs::path Path() const { return folder_.Path() / "dat1hc"; }

    std::vector<Record> ReadVersion60(bool hourly, const platform::IniFile& settings = {},
                                      bool onlyPeriod = false) {
        {
            auto file = protocol::DataFile::Create(Path());
            link_->ReadVersion60(*file, hourly, progress_, settings, onlyPeriod);
        }
        return Records(ReadAll(Path()));
    }

    std::string ErrorOfReadVersion60() {
        try {
            ReadVersion60(true);
        } catch (const protocol::ProtocolError& error) {
            return error.what();
        }
        return "(no error)";
    }

    // The field's bytes, found by walking the directory at 302 by hand.
    Bytes Field(std::uint8_t group, std::uint8_t subgroup, std::uint8_t field) {
        Client client(*twin_);
        const auto location =
            emulators::hctest::FindInDeviceDirectory(client, group, subgroup, field);
        EXPECT_TRUE(location.has_value());
        return location ? client.Read(location->address, location->size) : Bytes{};
    }

    Bytes Ask(const Bytes& command, unsigned answerLength) {
        Client client(*twin_);
        return client.Command(command, answerLength);
    }

    emulators::HcConfig config_;
    std::unique_ptr<emulators::HcDevice> device_;
    std::unique_ptr<emulators::HcDevice> twin_;
    std::unique_ptr<testsupport::DirectModem> modem_;
    std::unique_ptr<protocol::CTV540v60> link_;
    RecordingProgress progress_;
    testsupport::ScratchFolder folder_;
};

TEST_F(ArchiveReads, Version60ReadsClockParametersDaysMonthsAndHours) {
    Make(Version(60));
    const std::vector<Record> records = ReadVersion60(true);
    // start, clock, 5 parameters, 11 daily, 11 monthly, 5 hours, filler, stop
    ASSERT_EQ(records.size(), 2u + 5u + 11u + 11u + 5u + 2u);
    EXPECT_EQ(records[0].tag, (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00}));
    EXPECT_EQ(records[1].tag, (Bytes{0xE6, 0x00, 0x36, 0x11, 0x00}));
    EXPECT_EQ(Bytes(records[1].data.begin() + 3, records[1].data.end()), (Bytes{0x07, 0x12, 0x24}));

    EXPECT_EQ(records[2].tag, (Bytes{0xE6, 0x00, 0x39, 0x40, 0x00}));
    EXPECT_EQ(records[2].data, Field(101, 0, 57));
    EXPECT_EQ(records[3].tag, (Bytes{0xE6, 0x00, 0x3A, 0x40, 0x00}));
    EXPECT_EQ(records[3].data, Field(101, 0, 58)) << "no encoding setting: the text as it is";
    EXPECT_EQ(records[4].tag, (Bytes{0xE6, 0x00, 0x3D, 0x20, 0x00}));
    EXPECT_EQ(records[4].data, Field(101, 0, 30));
    EXPECT_EQ(records[4].data[14], 60);
    for (int pipe = 1; pipe <= 2; ++pipe) {
        const Record& numbers = records[4 + pipe];
        EXPECT_EQ(numbers.tag, (Bytes{0xE6, static_cast<std::uint8_t>(pipe), 0x3D, 0x26, 0x00}));
        const Bytes raw = Field(230, static_cast<std::uint8_t>(pipe), 30);
        ASSERT_EQ(numbers.data.size(), raw.size());
        for (std::size_t at = 0; at < raw.size(); at += 4) {
            // 4-byte device numbers: five digits of each float.
            const float value = FloatAt(raw, at);
            const Bytes& n = numbers.data;
            const double mantissa = (n[at + 2] & 0x0F) * 1e4 + (n[at + 1] >> 4) * 1e3 +
                                    (n[at + 1] & 0x0F) * 1e2 + (n[at] >> 4) * 10 + (n[at] & 0x0F);
            if (value > 0) {
                EXPECT_NEAR(mantissa / 1e5 * std::pow(10.0, n[at + 3] - 128), value,
                            std::fabs(value) * 1e-4);
            }
        }
    }

    // Days: 1..31 November (31 November holds zeros), then 1..31 December.
    const std::uint8_t channelTags[11][2] = {{0x01, 0x21}, {0x02, 0x21}, {0x01, 0x23}, {0x02, 0x23},
                                             {0x01, 0x1F}, {0x02, 0x1F}, {0x01, 0x20}, {0x02, 0x20},
                                             {0x00, 0x1F}, {0x01, 0x22}, {0x02, 0x22}};
    const int offsets[11] = {27, 31, 35, 39, 11, 15, 19, 23, 7, 43, 47};
    for (int c = 0; c < 11; ++c) {
        const Record& daily = records[7 + c];
        EXPECT_EQ(daily.tag, (Bytes{0x0B, channelTags[c][0], channelTags[c][1], 0x29, 0x00}));
        ASSERT_EQ(daily.data.size(), 62u * 8u);
        const Record& monthly = records[18 + c];
        EXPECT_EQ(monthly.tag, (Bytes{0x0C, channelTags[c][0], channelTags[c][1], 0x29, 0x00}));
        ASSERT_EQ(monthly.data.size(), 24u * 8u);
    }
    for (int index = 0; index < 62; ++index) {
        SCOPED_TRACE(index);
        const int month = index < 31 ? 11 : 12;
        const int day = index % 31 + 1;
        const Bytes answer =
            (month == 11 && day == 31) || (month == 12 && day > 7)
                ? Bytes{}
                : Ask({34, 24, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day), 0},
                      55);
        for (int c = 0; c < 11; ++c) {
            const long double stored = DecodeEight(records[7 + c].data, index * 8);
            if (answer.empty() || answer[0] != 1) {
                EXPECT_EQ(stored, 0) << "channel " << c;
                continue;
            }
            const long double expected =
                c == 8 || c > 8 ? U32At(answer, offsets[c]) / 3600.0L : FloatAt(answer, offsets[c]);
            EXPECT_NEAR(static_cast<double>(stored), static_cast<double>(expected),
                        std::fabs(static_cast<double>(expected)) * 1e-6 + 1e-9)
                << "channel " << c;
        }
    }
    for (int index = 0; index < 24; ++index) {
        const Bytes answer = Ask({35, static_cast<std::uint8_t>(23 + index / 12),
                                  static_cast<std::uint8_t>(index % 12 + 1), 1, 0},
                                 55);
        const long double stored = DecodeEight(records[18].data, index * 8);  // Q10
        if (answer[0] != 1) {
            EXPECT_EQ(stored, 0);
        } else {
            EXPECT_NEAR(static_cast<double>(stored), FloatAt(answer, 27),
                        std::fabs(FloatAt(answer, 27)) * 1e-6);
        }
    }

    // Hours: 58-byte answers, newest first, with counter and checksum.
    for (int k = 0; k < 5; ++k) {
        const Record& hour = records[29 + k];
        const Bytes answer = Ask({static_cast<std::uint8_t>(k == 0 ? 16 : 15)}, 58);
        EXPECT_EQ(hour.tag, (Bytes{0x09, 0x00, static_cast<std::uint8_t>(k), 0x00, 0x01}));
        EXPECT_EQ(Bytes(hour.data.begin(), hour.data.end() - 1),
                  Bytes(answer.begin() + 1, answer.end()));
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < hour.whole.size(); ++i) {
            sum += hour.whole[i];
        }
        EXPECT_EQ(hour.whole.back(), static_cast<std::uint8_t>(sum));
    }
    EXPECT_EQ(records[34].whole,
              (Bytes{0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}))
        << "the filler record";
    EXPECT_EQ(records[35].tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
    // Progress went through the steps with their texts.
    EXPECT_NE(std::find(progress_.texts.begin(), progress_.texts.end(),
                        std::string(W1251("Считываются суточные архивы"))),
              progress_.texts.end());
    EXPECT_NE(std::find(progress_.texts.begin(), progress_.texts.end(),
                        std::string(W1251("Считываются часовые архивы. Считано всего: 2\r\n"
                                          "Последний считанный архив: 12 час 07.12.24"))),
              progress_.texts.end());
}

TEST_F(ArchiveReads, Field31IsPreferredAndWindowsTextIsStoredAsOem) {
    auto config = Version(60);
    config.field31 = true;
    Make(config);
    platform::IniFile settings;
    settings.Parse(std::string(W1251(
        "[Чтение данных из TV540]\nтип=TV540\n[TV540 версия 60]\nкодировка текста=windows\n")));
    const std::vector<Record> records = ReadVersion60(false, settings, true);
    // start, clock, 5 parameters, 11 daily, filler, stop: only the period.
    ASSERT_EQ(records.size(), 2u + 5u + 11u + 2u);
    EXPECT_EQ(records[4].data, Field(101, 0, 31));
    EXPECT_NE(records[4].data, Field(101, 0, 30));
    const Bytes text = Field(101, 0, 58);
    const std::string oem = platform::Cp1251ToCp866(std::string(text.begin(), text.end()));
    EXPECT_EQ(records[3].data, Bytes(oem.begin(), oem.end()));
}

TEST_F(ArchiveReads, ClockErrorsOfAVersion60Reading) {
    auto config = Version(60);
    config.clockStatus = 2;
    Make(config);
    EXPECT_EQ(ErrorOfReadVersion60(),
              W1251("Ошибка связи.\r\nОшибка при чтении текущего времени тепловычислителя."));
    config.clockStatus = 7;
    Make(config);
    EXPECT_EQ(ErrorOfReadVersion60(),
              W1251("Ошибка связи.\r\nНеверный ответ от тепловычислителя."));
    config.clockStatus = 1;
    config.clockBadDate = true;
    Make(config);
    EXPECT_EQ(
        ErrorOfReadVersion60(),
        W1251(
            "Ошибка связи.\r\nИз тепловычислителя считаны неправильные\r\nтекущие дата и время."));
    config.clockBadDate = false;
    config.statusZeroPolls = 1000;
    Make(config);
    EXPECT_EQ(
        ErrorOfReadVersion60(),
        W1251(
            "Ошибка связи.\r\nТепловычислитель не смог сформировать ответ\r\nв положенное время."));
}

TEST_F(ArchiveReads, ADeviceThatStopsAnsweringEndsTheReadingAndAStopIsHonoured) {
    Make(Version(60));
    // Silent from the 60th frame on: well inside the daily archive.
    device_->InjectFault(Fault{FaultKind::Silence, 60, 1, 600000});
    EXPECT_EQ(ErrorOfReadVersion60(), W1251("Ошибка связи."));

    Make(Version(60));
    progress_.stopText = W1251("Считываются суточные архивы");
    progress_.stopPosition = 10;
    EXPECT_EQ(ErrorOfReadVersion60(), W1251("Чтение архивов из тепловычислителя прервано."));
}

TEST_F(ArchiveReads, NoExchangeForDaysThatDoNotExist) {
    auto config = Version(60);
    config.clockEpoch = 1678838400;  // 2023-03-15 00:00:00: February 2023 has 28 days
    Make(config);
    ReadVersion60(false, {}, true);
    for (const Bytes& command : device_->Stats().commandLog) {
        if (command[0] == 34 && command[2] == 2) {
            EXPECT_LE(command[3], 28) << "no question about 29..31 February";
        }
    }
}

TEST_F(ArchiveReads, HoursAfterAFailedExchangeAreRepositionedNotStoredTwice) {
    Make(Version(60));
    // Frame 5 is the command write of the second hour; it is written with one attempt only.
    device_->InjectFault(Fault{FaultKind::LostAnswer, 4, 1, 0});
    {
        auto file = protocol::DataFile::Create(Path());
        link_->ReadHourArchive(*file, progress_);
    }
    const std::vector<Record> records = Records(ReadAll(Path()));
    ASSERT_EQ(records.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        const Bytes answer = Ask({static_cast<std::uint8_t>(k == 0 ? 16 : 15)}, 58);
        EXPECT_EQ(Bytes(records[k].data.begin(), records[k].data.end() - 1),
                  Bytes(answer.begin() + 1, answer.end()))
            << k;
    }
    std::vector<std::uint8_t> codes;
    for (const Bytes& command : device_->Stats().commandLog) {
        codes.push_back(command[0]);
    }
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes[0], 16);
    EXPECT_EQ(codes[1], 15) << "the write that was lost still reached the device";
    EXPECT_EQ(codes[2], 12);
    const Bytes reposition = device_->Stats().commandLog[2];
    ASSERT_EQ(reposition.size(), 5u);
    const Bytes& newest = records[0].data;  // year, month, day, hour at answer bytes 3..6
    EXPECT_EQ(Bytes(reposition.begin() + 1, reposition.end()),
              Bytes(newest.begin() + 2, newest.begin() + 6));
}

TEST_F(ArchiveReads, AnEmptyHourlyArchiveStoresNothing) {
    auto config = Version(60);
    config.emptyArchives = true;
    Make(config);
    {
        auto file = protocol::DataFile::Create(Path());
        link_->ReadHourArchive(*file, progress_);
    }
    EXPECT_TRUE(ReadAll(Path()).empty());
    EXPECT_EQ(device_->Stats().commandLog.size(), 1u);
}

class Archive180 : public ArchiveReads {
  protected:
    bool Read() {
        auto file = protocol::DataFile::Create(Path());
        return link_->Read180DayArchive(*file, progress_);
    }
};

TEST_F(Archive180, StoresEachDayThatHasARecord) {
    auto config = Version(53);
    config.missingDays = {1, 5};
    Make(config);
    ASSERT_TRUE(Read());
    const std::vector<Record> records = Records(ReadAll(Path()));
    EXPECT_EQ(records.front().tag, (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00}));
    EXPECT_EQ(records[1].tag, (Bytes{0xE6, 0x00, 0x36, 0x11, 0x00}));
    EXPECT_EQ(records[2].tag, (Bytes{0xE6, 0x00, 0x39, 0x40, 0x00}));
    const Bytes identity = Ask({53}, 9);
    EXPECT_EQ(records[2].data, Bytes(identity.begin() + 1, identity.end()));
    EXPECT_EQ(records[3].data, Field(101, 0, 30));
    EXPECT_EQ(records[4].data, Field(101, 0, 58));
    EXPECT_EQ(records.back().tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
    const std::size_t days = records.size() - 6;
    EXPECT_EQ(days, 178u) << "180 days, two of them missing";
    // Today first, then back in time, skipping the missing ones.
    protocol::DeviceDate date{7, 12, 24};
    std::size_t at = 5;
    for (int i = 0; i < 180; ++i, date = protocol::DayBefore(date)) {
        const Bytes answer =
            Ask({34, static_cast<std::uint8_t>(date.year), static_cast<std::uint8_t>(date.month),
                 static_cast<std::uint8_t>(date.day), 0},
                97);
        if (answer[0] != 1) {
            continue;
        }
        ASSERT_LT(at, records.size() - 1);
        EXPECT_EQ(records[at].tag, (Bytes{0x0E, 0x00, 0x24, 0x00, 0x00}));
        EXPECT_EQ(records[at].data, Bytes(answer.begin() + 1, answer.end())) << i;
        ++at;
    }
    EXPECT_EQ(at, records.size() - 1);
}

TEST_F(Archive180, AStopKeepsACompleteFileOrReportsThatParametersWereCut) {
    Make(Version(53));
    progress_.stopText = W1251("Считывается архив за 180 суток ");
    progress_.stopPosition = 10;
    ASSERT_TRUE(Read());
    const std::vector<Record> records = Records(ReadAll(Path()));
    EXPECT_EQ(records.size(), 5u + 10u + 1u);
    EXPECT_EQ(records.back().tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));

    Make(Version(53));
    progress_.stopText = W1251("Считываются параметры тепловычислителя");
    progress_.stopPosition = 3;
    EXPECT_FALSE(Read());
}

}  // namespace

namespace {

// A dump the data transfer device would have taken from an emulated device, converted, against
// a direct reading of that same device: record for record, the same bytes.
class DumpAgainstDirectReading : public ArchiveReads {
  protected:
    std::vector<Record> Converted(const emulators::UpdDumpOptions& options = {}) {
        const fs::path dat = folder_.Path() / "dat";
        emulators::WriteUpdDump(*twin_, dat.string(), options);
        protocol::CTV540v60Upd converter;
        EXPECT_TRUE(converter.ConvertDump(dat, {}));
        return Records(ReadAll(dat));
    }
};

TEST_F(DumpAgainstDirectReading, GiveTheSameRecords) {
    for (bool field31 : {false, true}) {
        for (bool withoutYear : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "field31 " << field31 << " without year " << withoutYear);
            auto config = Version(60);
            config.field31 = field31;
            config.missingDays = {2, 3};
            Make(config);
            const std::vector<Record> direct = ReadVersion60(true);
            emulators::UpdDumpOptions options;
            options.clockWithoutYear = withoutYear;
            const std::vector<Record> converted = Converted(options);
            // Direct: start, clock, 5 parameters, 11 days, 11 months, 5 hours, filler, stop.
            // Converted: start, clock, 5 parameters, 5 hours, 11 days, 11 months, stop.
            ASSERT_EQ(direct.size(), 36u);
            ASSERT_EQ(converted.size(), 35u);
            for (int i = 0; i < 7; ++i) {
                EXPECT_EQ(converted[i].whole, direct[i].whole) << i;
            }
            for (int k = 0; k < 5; ++k) {
                EXPECT_EQ(converted[7 + k].whole, direct[29 + k].whole) << "hour " << k;
            }
            for (int c = 0; c < 22; ++c) {
                EXPECT_EQ(converted[12 + c].whole, direct[7 + c].whole) << "channel record " << c;
            }
            EXPECT_EQ(converted.back().whole, direct.back().whole);
        }
    }
}

TEST_F(DumpAgainstDirectReading, ADumpRightAtTheSizeLimitIsConverted) {
    Make(Version(60));
    emulators::UpdDumpOptions options;
    options.padTo = protocol::kMaxDumpSize;
    const std::vector<Record> converted = Converted(options);
    EXPECT_EQ(converted.front().tag, (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00}));
    EXPECT_EQ(converted.back().tag, (Bytes{0xFF, 0x01, 0x35, 0x41, 0x00}));
}

}  // namespace
