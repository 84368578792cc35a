// The shipped templates over a data file that the real reader wrote from an emulated version-60
// device; every printed number is checked against sums and weighted means of the emulator's
// seeded records, worked out here.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "emulators/hc_archive.h"
#include "emulators/hc_memory_map.h"
#include "protocol/utv540.h"
#include "tests/builder/emulated_data.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using buildertest::Cells;
using buildertest::ExpectPrinted;
constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC
constexpr std::uint32_t kSeed = 11;

class EmulatedReports : public ::testing::Test {
  protected:
    void SetUp() override {
        config_.version = 60;
        config_.seed = kSeed;
        config_.clockEpoch = kClock;
        config_.hourlyRecords = 40;  // back to 5 December, 22:00
        config_.missingDays = {20};  // 17 November is not in the archive
        buildertest::ReadEmulatedVersion60(config_, Folder());
        buildertest::CopyShippedTemplates(Folder());
    }
    fs::path Folder() const { return folder_.Path(); }
    bool Holds(std::int64_t day) const {
        return emulators::HoldsDay(config_, *emulators::FindPersonality(60), kClock, day);
    }
    buildertest::Run Build(const std::string& name, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"1", "3", "sbl\\" + name + ".sbl", "hc\\dat1hc",
                                      "hc\\txt\\" + name + ".txt"};
        args.insert(args.end(), extra.begin(), extra.end());
        return buildertest::RunIn(Folder(), args, "hc/txt/" + name + ".txt");
    }

    emulators::HcConfig config_;
    testsupport::ScratchFolder folder_;
};

// Operating-time weighted sums of one pipeline, in hours.
struct Expected {
    double on = 0, heat = 0, mass1 = 0, mass2 = 0;
    double t1 = 0, t2 = 0, p1 = 0, p2 = 0, w1 = 0, w2 = 0;
    void Add(const emulators::PeriodRecord& r) {
        const auto& a = r.pipelines[0];
        const auto& b = r.pipelines[1];
        on += r.runningSeconds / 3600.0;
        heat += static_cast<double>(a.heatGj) - b.heatGj;
        mass1 += a.massT;
        mass2 += b.massT;
        t1 += a.temperatureC * (a.operatingSeconds / 3600.0);
        p1 += a.pressureMpa * (a.operatingSeconds / 3600.0);
        t2 += b.temperatureC * (b.operatingSeconds / 3600.0);
        p2 += b.pressureMpa * (b.operatingSeconds / 3600.0);
        w1 += a.operatingSeconds / 3600.0;
        w2 += b.operatingSeconds / 3600.0;
    }
    void Check(const std::vector<double>& c, const std::string& what) const {
        ASSERT_EQ(c.size(), 8u) << what;
        ExpectPrinted(c[0], on, 1, what + " time");
        ExpectPrinted(c[1], heat, 2, what + " heat");
        ExpectPrinted(c[2], mass1, 3, what + " mass 1");
        ExpectPrinted(c[3], mass2, 3, what + " mass 2");
        ExpectPrinted(c[4], t1 / w1, 1, what + " T1");
        ExpectPrinted(c[5], t2 / w2, 1, what + " T2");
        ExpectPrinted(c[6], p1 / w1, 2, what + " P1");
        ExpectPrinted(c[7], p2 / w2, 2, what + " P2");
    }
};

TEST_F(EmulatedReports, PreviousMonthDaysAndTotalsFollowTheSeededRecords) {
    const auto run = Build("prev_hw");
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    std::vector<std::string> rows;
    for (const std::string& line : run.lines) {
        if ((line.size() > 3 && line.starts_with("|  ") && std::isdigit(line[3])) ||
            line.starts_with("|Итого")) {
            rows.push_back(line);
        }
    }
    ASSERT_EQ(rows.size(), 31u) << run.utf8;  // 30 November days and the totals
    Expected total;
    for (unsigned day = 1; day <= 30; ++day) {
        const std::int64_t number = *emulators::DayNumberOf(2024, 11, day);
        std::vector<double> cells = Cells(rows[day - 1]);
        ASSERT_FALSE(cells.empty());
        EXPECT_EQ(cells[0], day);
        cells.erase(cells.begin());
        if (!Holds(number)) {
            EXPECT_EQ(day, 17u);
            EXPECT_TRUE(std::isnan(cells[1])) << rows[day - 1];
            continue;
        }
        Expected one;
        one.Add(emulators::MakeDayRecord(kSeed, number));
        one.Check(cells, "day " + std::to_string(day));
        total.Add(emulators::MakeDayRecord(kSeed, number));
    }
    std::vector<double> totals = Cells(rows[30]);
    totals.erase(totals.begin());  // "Итого"
    total.Check(totals, "totals");
    EXPECT_NE(run.utf8.find("***CORRECT_MONTH_YEAR11.24"), std::string::npos);
}

TEST_F(EmulatedReports, HourlyReportHasItsTwentyFourRowsWhereTheCorrectionLooks) {
    const auto run = Build("hour_hw", {"24", "12", "5"});
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    ASSERT_GE(run.lines.size(), 34u);
    EXPECT_NE(run.lines[8].find("+--"), std::string::npos);
    EXPECT_NE(run.lines[33].find("+--"), std::string::npos);
    EXPECT_EQ(run.lines[2], "за ***CORRECT_DAY_MONTH_YEAR05.12.24");
    const std::int64_t first = *emulators::DayNumberOf(2024, 12, 5) * 24;
    for (int hour = 0; hour < 24; ++hour) {
        const std::string& row = run.lines[9 + static_cast<std::size_t>(hour)];
        if (hour < 22) {  // the archive holds 22:00 and 23:00 only
            char span[8];
            std::snprintf(span, sizeof span, "%02d-%02d", hour, hour + 1);
            // What the correction's hourly step turns into zeros.
            EXPECT_EQ(row, "|" + std::string(span) +
                               "|    ---|   ------|       ---       ---|     ---      ---|"
                               "   ---    ---|  ---   ---|");
            continue;
        }
        const std::vector<double> c = Cells(row);
        ASSERT_EQ(c.size(), 12u) << row;  // the hour span reads as one word
        const emulators::HourRecord r = emulators::MakeHourRecord(kSeed, first + hour);
        ExpectPrinted(c[1], r.operatingSeconds / 60.0, 0, "minutes");
        for (int p = 0; p < 2; ++p) {
            const auto& t = r.pipelines[static_cast<std::size_t>(p)];
            ExpectPrinted(c[4 + p], t.massT, 3, "mass");
            ExpectPrinted(c[6 + p], t.heatGj, 2, "heat");
            ExpectPrinted(c[8 + p], t.temperatureC, 1, "temperature");
            ExpectPrinted(c[10 + p], t.pressureMpa, 2, "pressure");
        }
    }
}

TEST_F(EmulatedReports, SeveralDaysFollowTheCycleLineAcrossTheMonthEnd) {
    // What the workstation writes for 29 November .. 2 December: slots 29..33, N = 5, S = 28.
    const fs::path path = Folder() / "sbl" / "days_hw.sbl";
    std::string text = buildertest::ReadText(path);
    text.replace(0, text.find("\r\n"), "@cycle 5,28");
    buildertest::WriteText(path, text);
    const auto run = Build("days_hw");
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    std::vector<std::vector<double>> rows = buildertest::ReadTable(run.lines).rows;
    ASSERT_EQ(rows.size(), 5u);
    // The slot of 31 November stays, empty: the correction deletes it.
    const std::pair<unsigned, unsigned> days[] = {{11, 29}, {11, 30}, {11, 31}, {12, 1}, {12, 2}};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(rows[i][0], days[i].second);
        rows[i].erase(rows[i].begin());
        if (i == 2) {
            EXPECT_TRUE(std::isnan(rows[i][1]));
            continue;
        }
        Expected one;
        one.Add(emulators::MakeDayRecord(
            kSeed, *emulators::DayNumberOf(2024, days[i].first, days[i].second)));
        one.Check(rows[i], "slot " + std::to_string(i));
    }
}

TEST_F(EmulatedReports, YearMonthsComeFromTheMonthlyArchive) {
    const auto run = Build("year_hw");
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    std::vector<std::string> months;
    for (const std::string& line : run.lines) {
        if (line.starts_with("|  ") && line.find(".2024") != std::string::npos) {
            months.push_back(line);
        }
    }
    ASSERT_EQ(months.size(), 12u) << run.utf8;
    // November 2024 is a whole month of the device's monthly archive.
    const emulators::PeriodRecord november =
        emulators::MakeMonthRecord(kSeed, {2024, 11, 1}, *emulators::DayNumberOf(2024, 11, 30));
    std::vector<double> c = Cells(months[10]);
    ASSERT_EQ(c.size(), 9u) << months[10];
    ExpectPrinted(c[2],
                  static_cast<double>(november.pipelines[0].heatGj) - november.pipelines[1].heatGj,
                  2, "heat");
    ExpectPrinted(c[3], november.pipelines[0].massT, 3, "mass");
    ExpectPrinted(c[5], november.pipelines[0].temperatureC, 1, "T1");
}

}  // namespace

// The 180-day archive of a version-53 device, made by the installed "hc/touch180.exe".
class DeepArchiveReports : public ::testing::Test {
  protected:
    void SetUp() override {
        config_.version = 53;
        config_.seed = kSeed;
        config_.clockEpoch = kClock;
        ASSERT_NO_FATAL_FAILURE(buildertest::ReadEmulated180Days(config_, Folder()));
        buildertest::CopyShippedTemplates(Folder());
        fs::copy_file(TOUCH_PROGRAM, Folder() / "hc" / "touch180.exe");
    }
    fs::path Folder() const { return folder_.Path(); }

    emulators::HcConfig config_;
    testsupport::ScratchFolder folder_;
};

TEST_F(DeepArchiveReports, InstalledBuilderReportsTheChosenDays) {
    testsupport::Process builder(
        {(Folder() / "hc" / "touch180.exe").string(), "s", "hc\\dat2hc", "sbl\\days_hw.sbl",
         "hc\\txt\\days_hw.txt", "25.10.2024", "05.11.2024"},
        Folder() / "stdout", {}, Folder());
    ASSERT_TRUE(builder.Started());
    ASSERT_EQ(builder.Wait(std::chrono::seconds(30)), builder::kExitDone);
    const auto lines =
        buildertest::ReportLines(buildertest::ReportText(Folder() / "hc/txt/days_hw.txt"));
    auto [rows, totals] = buildertest::ReadTable(lines);
    ASSERT_EQ(rows.size(), 12u);
    Expected total;
    const std::int64_t first = *emulators::DayNumberOf(2024, 10, 25);
    for (std::int64_t i = 0; i < 12; ++i) {
        const emulators::PeriodRecord r = emulators::MakeDayRecord(kSeed, first + i);
        auto& row = rows[static_cast<std::size_t>(i)];
        EXPECT_EQ(row[0], r.date.day);
        row.erase(row.begin());
        Expected one;
        one.Add(r);
        one.Check(row, "day " + std::to_string(r.date.day));
        total.Add(r);
    }
    ASSERT_FALSE(totals.empty());
    totals.erase(totals.begin());
    total.Check(totals, "totals");
}

TEST_F(EmulatedReports, EveryShippedTemplateMakesAFramedReport) {
    for (const auto& entry : fs::directory_iterator(fs::path(CALVIX_SOURCE_DIR) / "site" / "sbl")) {
        const std::string name = entry.path().stem().string();
        const auto run = name == "hour_hw" ? Build(name, {"24", "12", "6"}) : Build(name);
        EXPECT_EQ(run.exitCode, builder::kExitDone) << name << "\n" << run.utf8;
        EXPECT_NE(run.utf8.find("+--"), std::string::npos) << name;
    }
}

TEST(WideHourlyReports, FourPipelinesFillTheWideLayout) {
    emulators::HcConfig config;
    config.version = 45;
    config.seed = kSeed;
    config.clockEpoch = kClock;
    config.hourlyRecords = 40;
    testsupport::ScratchFolder folder;
    buildertest::ReadEmulatedHours(config, folder.Path());
    buildertest::CopyShippedTemplates(folder.Path());
    const auto run = buildertest::RunIn(
        folder.Path(),
        {"1", "3", "sbl\\hour_hw.sbl", "hc\\dat1hc", "hc\\txt\\h.txt", "24", "12", "6"},
        "hc/txt/h.txt");
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    ASSERT_GE(run.lines.size(), 34u);
    const std::int64_t first = *emulators::DayNumberOf(2024, 12, 6) * 24;
    for (int hour = 0; hour < 24; ++hour) {
        const std::vector<double> c = Cells(run.lines[9 + static_cast<std::size_t>(hour)]);
        ASSERT_EQ(c.size(), 22u) << run.lines[9 + static_cast<std::size_t>(hour)];
        const emulators::HourRecord r = emulators::MakeHourRecord(kSeed, first + hour);
        for (std::size_t p = 0; p < 4; ++p) {
            ExpectPrinted(c[6 + p], r.pipelines[p].massT, 3, "mass");
            ExpectPrinted(c[10 + p], r.pipelines[p].heatGj, 2, "heat");
            ExpectPrinted(c[14 + p], r.pipelines[p].temperatureC, 1, "temperature");
            ExpectPrinted(c[18 + p], r.pipelines[p].pressureMpa, 2, "pressure");
        }
    }
    EXPECT_NE(run.lines[33].find("+--"), std::string::npos);
}
