// Personalities 60 and 53 next to 45: their directories, the version element, and the archive
// commands 34, 35, 40, 16, 15 and 12.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "emulators/hc_archive.h"
#include "emulators/hc_device.h"
#include "emulators/hc_values.h"
#include "tests/emulators/hc_test_client.h"

namespace emulators {
namespace {

using namespace hctest;

// 0.d0d1d2d3d4 * 10^e: byte 2 = d0, byte 1 = d1 d2, byte 0 = d3 d4, byte 3 = e + 128.
double DecodeArchiveNumber(const Bytes& r, std::size_t at) {
    auto bcd = [](std::uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
    const double digits = bcd(r[at + 2]) * 10000.0 + bcd(r[at + 1]) * 100.0 + bcd(r[at]);
    return digits / 1e5 * std::pow(10.0, r[at + 3] - 128);
}

std::uint32_t U32At(const Bytes& r, std::size_t at) {
    return r[at] | r[at + 1] << 8 | r[at + 2] << 16 | static_cast<std::uint32_t>(r[at + 3]) << 24;
}

struct FieldSize {
    std::uint8_t group, subgroup, field;
    std::uint16_t size;
};

const std::vector<FieldSize> kCommonFields = {
    {101, 0, 30, 24}, {101, 0, 57, 16}, {101, 0, 58, 32}, {230, 1, 30, 32}, {230, 2, 30, 32},
};
const std::vector<FieldSize> kFields31 = {{101, 0, 31, 24}, {230, 1, 31, 32}, {230, 2, 31, 32}};

// 2024-03-15 10:20:30 UTC: the newest hourly record is 09:00 of the 15th.
constexpr long long kFriday = 1710498030;

class HcArchiveTest : public ::testing::Test {
  protected:
    HcArchiveTest() {
        config_.version = 60;
        config_.clockEpoch = kFriday;
    }
    HcConfig config_;
};

// ---- Directories and the version element ----------------------------------------------------

TEST(HcPersonalityTest, DirectoryWalkFindsEveryFieldOfEachVersion) {
    for (int version : {45, 53, 60}) {
        for (bool field31 : {false, true}) {
            if (field31 && version != 60) {
                continue;
            }
            SCOPED_TRACE("version " + std::to_string(version) + (field31 ? " with 31" : ""));
            HcConfig config;
            config.version = version;
            config.field31 = field31;
            HcDevice device(config);
            Client c(device);
            std::vector<FieldSize> expected = kCommonFields;
            if (field31) {
                expected.insert(expected.end(), kFields31.begin(), kFields31.end());
            }
            for (const FieldSize& f : expected) {
                SCOPED_TRACE(std::to_string(f.group) + "/" + std::to_string(f.subgroup) + "/" +
                             std::to_string(f.field));
                const auto found = FindInDeviceDirectory(c, f.group, f.subgroup, f.field);
                ASSERT_TRUE(found);
                EXPECT_EQ(found->size, f.size);
                EXPECT_EQ(found->flags & 0x0E, 0) << "1-byte elements";
            }
            if (!field31) {
                for (const FieldSize& f : kFields31) {
                    EXPECT_FALSE(FindInDeviceDirectory(c, f.group, f.subgroup, f.field));
                }
            }
            EXPECT_EQ(FindInDeviceDirectory(c, 101, 0, 40).has_value(), version == 45);
        }
    }
}

TEST(HcPersonalityTest, VersionIsElement15AndNoOtherByteLooksLikeAVersion) {
    for (int version : {45, 53, 60}) {
        // Addresses equal to a version number must not leak into the settings.
        for (std::uint8_t address : {1, 45, 53, 60}) {
            HcConfig config;
            config.version = version;
            config.address = address;
            config.field31 = version == 60;
            HcDevice device(config);
            Client c(device);
            for (std::uint8_t field : {30, 31}) {
                const auto found = FindInDeviceDirectory(c, 101, 0, field);
                if (!found) {
                    ASSERT_EQ(field, 31);
                    continue;
                }
                SCOPED_TRACE("version " + std::to_string(version) + " address " +
                             std::to_string(address) + " field " + std::to_string(field));
                const Bytes settings = c.Read(found->address, found->size);
                EXPECT_EQ(settings[14], version);
                EXPECT_EQ(settings[19], 0) << "energy unit";
                for (std::size_t i = 0; i < settings.size(); ++i) {
                    if (i != 14) {
                        EXPECT_TRUE(settings[i] != 45 && settings[i] != 53 && settings[i] != 60)
                            << "byte " << i << " = " << int{settings[i]};
                    }
                }
            }
        }
    }
}

TEST(HcPersonalityTest, Field31DiffersFromField30InEveryGroup) {
    HcConfig config;
    config.version = 60;
    config.field31 = true;
    HcDevice device(config);
    Client c(device);
    for (auto [group, subgroup] : {std::pair{101, 0}, std::pair{230, 1}, std::pair{230, 2}}) {
        SCOPED_TRACE(std::to_string(group) + "/" + std::to_string(subgroup));
        const auto f30 = FindInDeviceDirectory(c, static_cast<std::uint8_t>(group),
                                               static_cast<std::uint8_t>(subgroup), 30);
        const auto f31 = FindInDeviceDirectory(c, static_cast<std::uint8_t>(group),
                                               static_cast<std::uint8_t>(subgroup), 31);
        ASSERT_TRUE(f30 && f31);
        const Bytes a = c.Read(f30->address, f30->size);
        const Bytes b = c.Read(f31->address, f31->size);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_NE(a, b);
        if (group == 230) {
            for (std::size_t at = 0; at < a.size(); at += 4) {
                EXPECT_NE(FloatAt(a, at), FloatAt(b, at)) << "float " << at / 4;
                EXPECT_TRUE(std::isfinite(FloatAt(b, at)));
            }
            EXPECT_GT(FloatAt(b, 0), 10.0f);  // a pipe diameter, mm
        }
    }
}

TEST(HcPersonalityTest, AddressTextIsInThePersonalitysCodePage) {
    for (int version : {53, 60}) {
        HcConfig config;
        config.version = version;
        HcDevice device(config);
        Client c(device);
        const auto text = FindInDeviceDirectory(c, 101, 0, 58);
        ASSERT_TRUE(text);
        const Bytes bytes = c.Read(text->address, 12);
        // "Котельная №1": К о т ... then the number sign.
        const Bytes expected =
            version == 60
                ? Bytes{0xCA, 0xEE, 0xF2, 0xE5, 0xEB, 0xFC, 0xED, 0xE0, 0xFF, ' ', 0xB9, '1'}
                : Bytes{0x8A, 0xAE, 0xE2, 0xA5, 0xAB, 0xEC, 0xAD, 0xA0, 0xEF, ' ', 0xFC, '1'};
        EXPECT_EQ(bytes, expected) << "version " << version;
    }
}

TEST_F(HcArchiveTest, IdentityAndClockAnswerAsBefore) {
    HcDevice device(config_);
    Client c(device);
    const Bytes identity = c.Command({53}, 9);
    EXPECT_EQ(identity[0], 1);
    EXPECT_EQ(identity[6], 60);
    const Bytes clock = c.Command({4}, 7);
    EXPECT_EQ(Bytes(clock.begin() + 2, clock.end()), (Bytes{0x20, 0x10, 0x15, 0x03, 0x24}));
}

TEST_F(HcArchiveTest, ClockStatusAndImpossibleDateAreConfigurable) {
    config_.clockStatus = 2;
    HcDevice noClock(config_);
    Client a(noClock);
    EXPECT_EQ(a.Command({4}, 7), (Bytes{2, 0, 0, 0, 0, 0, 0}));

    config_.clockStatus = 1;
    config_.clockBadDate = true;
    HcDevice badDate(config_);
    Client b(badDate);
    const Bytes clock = b.Command({4}, 7);
    EXPECT_EQ(clock[0], 1);
    EXPECT_EQ(clock[4], 0x31);  // day 31
    EXPECT_EQ(clock[5], 0x04);  // of April
    EXPECT_EQ(clock[6], 0x24);
}

// ---- Daily and monthly records of version 60 ------------------------------------------------

TEST_F(HcArchiveTest, DailyRecordHasTheTableLayoutAndPlausibleValues) {
    HcDevice device(config_);
    Client c(device);
    const Bytes r = c.Command({34, 24, 3, 14, 0}, 55);
    ASSERT_EQ(r.size(), 55u);
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[1], 2);  // daily record
    EXPECT_EQ((Bytes{r[4], r[5], r[6]}), (Bytes{14, 3, 24}));
    const std::uint32_t c2 = U32At(r, 7), c1 = U32At(r, 43), c0 = U32At(r, 47);
    EXPECT_GT(c2, 0u);
    EXPECT_LE(c2, 86400u);
    EXPECT_LE(c1, c2);
    EXPECT_LE(c0, c2);
    EXPECT_EQ(U32At(r, 51), 86400u - c2) << "time off";
    for (std::size_t at : {11, 15}) {  // Q6, Q5: heat, GJ
        EXPECT_GT(FloatAt(r, at), 1.0f);
        EXPECT_LT(FloatAt(r, at), 200.0f);
    }
    for (std::size_t at : {19, 23}) {  // Q4, Q3: mass, t
        EXPECT_GT(FloatAt(r, at), 10.0f);
        EXPECT_LT(FloatAt(r, at), 500.0f);
    }
    for (std::size_t at : {27, 31}) {  // Q10, Q9: temperature
        EXPECT_GE(FloatAt(r, at), 40.0f);
        EXPECT_LE(FloatAt(r, at), 95.0f);
    }
    for (std::size_t at : {35, 39}) {  // Q8, Q7: pressure, MPa
        EXPECT_GT(FloatAt(r, at), 0.2f);
        EXPECT_LT(FloatAt(r, at), 1.0f);
    }
    EXPECT_GT(FloatAt(r, 27), FloatAt(r, 31)) << "supply warmer than return";
}

TEST_F(HcArchiveTest, DailyArchiveHoldsTodayBackToItsDepth) {
    config_.missingDays = {3};
    config_.missingEveryNthDay = 20;
    HcDevice device(config_);
    Client c(device);
    auto status = [&](std::uint8_t y, std::uint8_t m, std::uint8_t d) {
        return c.Command({34, y, m, d, 0}, 1)[0];
    };
    EXPECT_EQ(status(24, 3, 15), 1) << "today";
    EXPECT_EQ(status(24, 3, 16), 2) << "tomorrow";
    EXPECT_EQ(status(25, 1, 1), 2);
    EXPECT_EQ(status(24, 3, 12), 2) << "3 days back, configured missing";
    EXPECT_EQ(status(24, 3, 13), 1);
    EXPECT_EQ(status(24, 2, 24), 2) << "20 days back";
    EXPECT_EQ(status(24, 2, 4), 2) << "40 days back";
    EXPECT_EQ(status(24, 1, 6), 1) << "69 days back, the oldest";
    EXPECT_EQ(status(24, 1, 5), 2) << "70 days back";
    EXPECT_EQ(status(24, 2, 30), 2) << "no such day";
    EXPECT_EQ(status(24, 13, 1), 3) << "no such month";
    EXPECT_EQ(c.Command({34, 24}, 1)[0], 3) << "too short";
    // The whole window a reading asks, day 1 of the previous month to today, is there.
    for (std::uint8_t d = 1; d <= 29; ++d) {
        EXPECT_EQ(status(24, 2, d), d == 24 || d == 4 ? 2 : 1) << "February " << int{d};
    }
}

TEST_F(HcArchiveTest, MonthlyRecordSumsItsDays) {
    HcDevice device(config_);
    Client c(device);
    const Bytes m = c.Command({35, 24, 2, 1, 0}, 55);
    ASSERT_EQ(m.size(), 55u);
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(m[1], 3);  // monthly record
    EXPECT_EQ((Bytes{m[4], m[5], m[6]}), (Bytes{1, 2, 24}));
    double heat = 0;
    std::uint32_t running = 0;
    for (std::uint8_t d = 1; d <= 29; ++d) {
        const Bytes day = c.Command({34, 24, 2, d, 0}, 55);
        heat += FloatAt(day, 11);
        running += U32At(day, 7);
    }
    EXPECT_NEAR(FloatAt(m, 11), heat, heat * 1e-4);
    EXPECT_EQ(U32At(m, 7), running);
    EXPECT_EQ(U32At(m, 51), 29u * 86400u - running);

    auto status = [&](std::uint8_t y, std::uint8_t month) {
        return c.Command({35, y, month, 1, 0}, 1)[0];
    };
    EXPECT_EQ(status(24, 3), 1) << "the current month, so far";
    EXPECT_EQ(status(24, 4), 2) << "next month";
    EXPECT_EQ(status(22, 2), 1) << "25 months back";
    EXPECT_EQ(status(22, 1), 2) << "26 months back";
    EXPECT_EQ(status(24, 0), 3);
}

TEST(HcArchiveValuesTest, DaysArePhysicallyPlausible) {
    const std::int64_t first = *DayNumberOf(2024, 1, 1);
    for (std::uint32_t seed : {1u, 7u, 11u}) {
        for (std::int64_t d = first; d < first + 400; ++d) {
            const PeriodRecord r = MakeDayRecord(seed, d);
            EXPECT_LE(r.runningSeconds, r.periodSeconds);
            for (unsigned p = 0; p < 4; ++p) {
                const PipelineTotals& t = r.pipelines[p];
                EXPECT_GE(t.temperatureC, 40.0f);
                EXPECT_LE(t.temperatureC, 130.0f);
                EXPECT_GE(t.pressureMpa, 0.2f);
                EXPECT_LE(t.pressureMpa, 1.6f);
                EXPECT_LE(t.operatingSeconds, r.runningSeconds);
                // Heat against cold water at 5 degrees, to the five digits kept.
                EXPECT_NEAR(t.heatGj, t.massT * 4.1868 * (t.temperatureC - 5.0) / 1000.0,
                            t.heatGj * 2e-4);
            }
            EXPECT_GT(r.pipelines[0].temperatureC, r.pipelines[1].temperatureC);  // supply, return
            EXPECT_GT(r.pipelines[2].temperatureC, r.pipelines[3].temperatureC);
        }
    }
}

TEST(HcArchiveValuesTest, MonthlyMeansAreWeightedByOperatingTime) {
    const std::int64_t first = *DayNumberOf(2024, 2, 1);
    const PeriodRecord month = MakeMonthRecord(7, {2024, 2, 1}, first + 28);
    double weighted = 0, seconds = 0;
    for (std::int64_t d = first; d < first + 29; ++d) {
        const PipelineTotals t = MakeDayRecord(7, d).pipelines[0];
        weighted += static_cast<double>(t.temperatureC) * t.operatingSeconds;
        seconds += t.operatingSeconds;
    }
    EXPECT_EQ(month.pipelines[0].operatingSeconds, seconds);
    EXPECT_NEAR(month.pipelines[0].temperatureC, weighted / seconds, 1e-3);
}

TEST_F(HcArchiveTest, EmptyArchivesAnswerNoRecordFromTheStart) {
    config_.emptyArchives = true;
    HcDevice device(config_);
    Client c(device);
    EXPECT_EQ(c.Command({16}, 58)[0], 2);
    EXPECT_EQ(c.Command({15}, 58)[0], 2);
    EXPECT_EQ(c.Command({12, 24, 3, 15, 9}, 58)[0], 2);
    EXPECT_EQ(c.Command({34, 24, 3, 15, 0}, 55)[0], 2);
    EXPECT_EQ(c.Command({35, 24, 3, 1, 0}, 55)[0], 2);
}

TEST(HcDays180Test, RecordsOf97BytesGoBack180Days) {
    HcConfig config;
    config.version = 53;
    config.clockEpoch = kFriday;
    HcDevice device(config);
    Client c(device);
    const Bytes today = c.Command({34, 24, 3, 15, 0}, 97);
    ASSERT_EQ(today.size(), 97u);
    EXPECT_EQ(today[0], 1);
    EXPECT_EQ((Bytes{today[1], today[2], today[3]}), (Bytes{15, 3, 24}));
    for (int p = 0; p < 4; ++p) {
        const float temperature = FloatAt(today, 5 + 16 * static_cast<std::size_t>(p) + 8);
        EXPECT_GE(temperature, 40.0f);
        EXPECT_LE(temperature, 95.0f);
    }
    EXPECT_LE(U32At(today, 69), 86400u);
    // 179 days back is 18 September 2023; 180 days back is gone.
    EXPECT_EQ(c.Command({34, 23, 9, 18, 0}, 97)[0], 1);
    EXPECT_EQ(c.Command({34, 23, 9, 17, 0}, 97)[0], 2);
    EXPECT_EQ(c.Command({34, 24, 3, 16, 0}, 97)[0], 2);
    EXPECT_EQ(c.Command({35, 24, 3, 1, 0}, 55)[0], 3) << "months come as archive pages";
}

TEST(HcDays180Test, ArchivePagesAreThoseOfVersion45) {
    HcConfig config;
    HcDevice version45(config);
    config.version = 53;
    HcDevice version53(config);
    Client c45(version45), c53(version53);
    for (const Bytes& command : {Bytes{40, 1, 123}, Bytes{40, 2, 47}}) {
        const Bytes page = c53.Command(command, 49);
        EXPECT_EQ(page[0], 1);
        EXPECT_EQ(page, c45.Command(command, 49));
    }
}

// ---- Hourly archive ---------------------------------------------------------------------------

TEST_F(HcArchiveTest, HourlyAnswerOfVersion60HasItsLayout) {
    HcDevice device(config_);
    Client c(device);
    const Bytes r = c.Command({16}, 58);
    ASSERT_EQ(r.size(), 58u);
    EXPECT_EQ((Bytes{r[0], r[1], r[2]}), (Bytes{1, 0, 0}));
    EXPECT_EQ((Bytes{r[3], r[4], r[5], r[6]}), (Bytes{24, 3, 15, 9}));
    EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 15), Bytes(7, 0));
    EXPECT_LE(r[15] << 8 | r[16], 3600);
    EXPECT_EQ((Bytes{r[17], r[18], r[19]}), (Bytes{1, 0, 4}));
    EXPECT_EQ((Bytes{r[22], r[23], r[24], r[25]}), (Bytes{0, 0, 3, 16}));
    // Pipeline 1 then pipeline 2: heat GJ, mass t, temperature, pressure MPa.
    for (std::size_t pipe : {26u, 42u}) {
        EXPECT_GT(DecodeArchiveNumber(r, pipe), 0.05);
        EXPECT_LT(DecodeArchiveNumber(r, pipe), 10.0);
        EXPECT_GT(DecodeArchiveNumber(r, pipe + 4), 1.0);
        EXPECT_LT(DecodeArchiveNumber(r, pipe + 4), 20.0);
        EXPECT_GE(DecodeArchiveNumber(r, pipe + 8), 40.0);
        EXPECT_LE(DecodeArchiveNumber(r, pipe + 8), 95.0);
        EXPECT_GT(DecodeArchiveNumber(r, pipe + 12), 0.2);
        EXPECT_LT(DecodeArchiveNumber(r, pipe + 12), 1.0);
    }
}

TEST_F(HcArchiveTest, HourlyArchiveWalksBackAndRepositions) {
    HcDevice device(config_);
    Client c(device);
    auto stamp = [](const Bytes& r) { return Bytes(r.begin() + 3, r.begin() + 7); };
    EXPECT_EQ(stamp(c.Command({16}, 58)), (Bytes{24, 3, 15, 9}));
    EXPECT_EQ(stamp(c.Command({15}, 58)), (Bytes{24, 3, 15, 8}));
    const Bytes seven = c.Command({15}, 58);
    EXPECT_EQ(stamp(seven), (Bytes{24, 3, 15, 7}));

    // 12 goes to an older hour and returns it; 15 continues from there.
    const Bytes at = c.Command({12, 24, 3, 14, 22}, 58);
    EXPECT_EQ(at[0], 1);
    EXPECT_EQ(stamp(at), (Bytes{24, 3, 14, 22}));
    EXPECT_EQ(stamp(c.Command({15}, 58)), (Bytes{24, 3, 14, 21}));
    // Back to a newer hour: the same bytes as when 15 reached it.
    EXPECT_EQ(c.Command({12, 24, 3, 15, 7}, 58), seven);

    // Hours outside the archive answer 2 and leave the position alone.
    EXPECT_EQ(c.Command({12, 24, 3, 15, 10}, 58)[0], 2) << "the running hour";
    EXPECT_EQ(c.Command({12, 24, 3, 5, 9}, 58)[0], 2) << "240 hours back";
    EXPECT_EQ(c.Command({12, 24, 3, 15, 24}, 58)[0], 3) << "no hour 24";
    EXPECT_EQ(stamp(c.Command({15}, 58)), (Bytes{24, 3, 15, 6}));

    EXPECT_EQ(c.Command({12, 24, 3, 5, 10}, 58)[0], 1) << "239 hours back, the oldest";
    EXPECT_EQ(c.Command({15}, 58)[0], 2) << "nothing older than the oldest";
}

TEST_F(HcArchiveTest, HourlyArchiveEndsAfterItsRecords) {
    config_.hourlyRecords = 3;
    HcDevice device(config_);
    Client c(device);
    EXPECT_EQ(c.Command({16}, 58)[0], 1);
    EXPECT_EQ(c.Command({15}, 58)[0], 1);
    EXPECT_EQ(c.Command({15}, 58)[0], 1);
    EXPECT_EQ(c.Command({15}, 58)[0], 2);
    EXPECT_EQ(c.Command({15}, 58)[0], 2);
    EXPECT_EQ(c.Command({16}, 58)[0], 1) << "16 starts again";
}

TEST_F(HcArchiveTest, RefusedCommandsAnswerAsUnknown) {
    config_.refusedCommands = {16, 15};
    HcDevice device(config_);
    Client c(device);
    EXPECT_EQ(c.Command({16}, 58)[0], 3);
    EXPECT_EQ(c.Command({15}, 58)[0], 3);
    EXPECT_EQ(c.Command({12, 24, 3, 15, 9}, 58)[0], 1);
}

TEST(HcHourlyWideTest, Versions45And53Answer92Bytes) {
    for (int version : {45, 53}) {
        HcConfig config;
        config.version = version;
        config.clockEpoch = kFriday;
        HcDevice device(config);
        Client c(device);
        const Bytes first = c.Command({16}, 92);
        EXPECT_EQ(first[0], 1);
        EXPECT_EQ((Bytes{first[3], first[4], first[5], first[6]}), (Bytes{24, 3, 15, 9}));
        // Four pipelines of four numbers from byte 26; temperatures third.
        for (std::size_t p = 0; p < 4; ++p) {
            const double temperature = DecodeArchiveNumber(first, 26 + 16 * p + 8);
            EXPECT_GE(temperature, 40.0);
            EXPECT_LE(temperature, 95.0);
        }
        const Bytes next = c.Command({15}, 92);
        EXPECT_EQ((Bytes{next[3], next[4], next[5], next[6]}), (Bytes{24, 3, 15, 8}));
    }
}

// ---- Determinism --------------------------------------------------------------------------

TEST_F(HcArchiveTest, SameSeedAndClockGiveTheSameArchives) {
    HcDevice a(config_);
    HcDevice b(config_);
    config_.seed = 2;
    HcDevice other(config_);
    Client ca(a), cb(b), co(other);
    const std::pair<Bytes, unsigned> commands[] = {
        {{34, 24, 3, 1, 0}, 55}, {{35, 23, 7, 1, 0}, 55}, {{16}, 58}, {{12, 24, 3, 10, 4}, 58}};
    for (const auto& [command, length] : commands) {
        const Bytes first = ca.Command(command, length);
        EXPECT_EQ(first[0], 1);
        EXPECT_EQ(ca.Command(command, length), first) << "asked twice";
        EXPECT_EQ(cb.Command(command, length), first) << "another device, same seed";
        EXPECT_NE(co.Command(command, length), first) << "another seed";
    }
}

TEST(HcArchiveNumberTest, MatchesTheWorkedExamples) {
    using Four = std::array<std::uint8_t, 4>;
    EXPECT_EQ(EncodeArchiveNumber(1.0), (Four{0x00, 0x00, 0x01, 0x81}));
    EXPECT_EQ(EncodeArchiveNumber(0.5), (Four{0x00, 0x00, 0x05, 0x80}));
    EXPECT_EQ(EncodeArchiveNumber(12.345f), (Four{0x45, 0x23, 0x01, 0x82}));
    EXPECT_EQ(EncodeArchiveNumber(-1.0), (Four{0x9A, 0x99, 0x98, 0x81}));
    EXPECT_EQ(EncodeArchiveNumber(9.99996), (Four{0x00, 0x00, 0x01, 0x82}));
    EXPECT_EQ(EncodeArchiveNumber(100.0), (Four{0x00, 0x00, 0x01, 0x83}));
    EXPECT_EQ(EncodeArchiveNumber(0.0), (Four{0, 0, 0, 0}));
    EXPECT_EQ(EncodeArchiveNumber(0.065432f), (Four{0x32, 0x54, 0x06, 0x7F}));
}

}  // namespace
}  // namespace emulators
