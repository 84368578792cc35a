// The builder's reports after the workstation's correction: the hourly totals row and the
// several-day totals follow from the emulator's seeded records, to the printed precision.
#include <gtest/gtest.h>

#include <cmath>

#include "emulators/hc_archive.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_files.h"
#include "platform/codepage.h"
#include "tests/builder/emulated_data.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using buildertest::Cells;
constexpr long long kClock = 1733580000;  // 2024-12-07 14:00:00 UTC
constexpr std::uint32_t kSeed = 11;

double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// The correction cuts the decimals it does not show.
void ExpectCut(double printed, double expected, int decimals, const std::string& what) {
    EXPECT_LE(std::fabs(printed - expected), std::pow(10.0, -decimals) + 1e-9)
        << what << ": printed " << printed << ", expected " << expected;
}

class CorrectedReports : public ::testing::Test {
  protected:
    void SetUp() override {
        emulators::HcConfig config;
        config.version = 60;
        config.seed = kSeed;
        config.clockEpoch = kClock;
        config.hourlyRecords = 40;
        buildertest::ReadEmulatedVersion60(config, folder_.Path());
        buildertest::CopyShippedTemplates(folder_.Path());
    }
    // The report as the workstation shows it, in UTF-8.
    std::vector<std::string> Corrected(const std::vector<std::string>& args,
                                       const calvix::ReportContext& context) {
        std::ostringstream err;
        EXPECT_EQ(builder::RunBuilder(args, folder_.Path(), err), builder::kExitDone) << err.str();
        const std::string text = buildertest::ReadText(folder_.Path() / "hc/txt/out.txt");
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find("\r\n", at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 2;
        }
        calvix::CorrectReport(lines, context);
        for (std::string& line : lines) {
            line = platform::Cp1251ToUtf8(line);
        }
        return lines;
    }
    testsupport::ScratchFolder folder_;
};

// The correction's totals of the day's hours, from the emulator's records as printed.
void ExpectHourlyTotals(const std::vector<std::string>& lines, int pipelines) {
    ASSERT_GE(lines.size(), 36u);
    ASSERT_TRUE(lines[34].starts_with("|Итого|")) << lines[34];
    const std::int64_t first = *emulators::DayNumberOf(2024, 12, 6) * 24;
    const auto n = static_cast<std::size_t>(pipelines);
    double minutes = 0;
    std::vector<double> mass(n), heat(n), t(n), p(n);
    for (int hour = 0; hour < 24; ++hour) {
        const emulators::HourRecord r = emulators::MakeHourRecord(kSeed, first + hour);
        const double m = std::round(r.operatingSeconds / 60.0);
        minutes += m;
        for (std::size_t i = 0; i < n; ++i) {
            const auto& v = r.pipelines[i];
            mass[i] += Rounded(v.massT, 3);
            heat[i] += Rounded(v.heatGj, 2);
            t[i] += Rounded(v.temperatureC, 1) * m;
            p[i] += Rounded(v.pressureMpa, 2) * m;
        }
    }
    const std::vector<double> c = Cells(lines[34]);
    ASSERT_EQ(c.size(), 2 + 4 * n) << lines[34];  // "Итого", time, then n x 4 values
    EXPECT_EQ(c[1], minutes);
    for (std::size_t i = 0; i < n; ++i) {
        ExpectCut(c[2 + i], mass[i], 3, "mass");
        ExpectCut(c[2 + n + i], heat[i], 2, "heat");
        ExpectCut(c[2 + 2 * n + i], t[i] / minutes, 1, "temperature");
        ExpectCut(c[2 + 3 * n + i], p[i] / minutes, 2, "pressure");
    }
}

const std::vector<std::string> kHourlyArgs{
    "1", "3", "sbl\\hour_hw.sbl", "hc\\dat1hc", "hc\\txt\\out.txt", "24", "12", "6"};

TEST_F(CorrectedReports, HourlyTotalsRowSumsTheDay) {
    calvix::ReportContext context;
    context.workState = calvix::WorkState::stHCHourly;
    context.dataTakeDate = {2024, 12, 7};
    context.deviceVersion = 60;
    ExpectHourlyTotals(Corrected(kHourlyArgs, context), 2);
}

TEST_F(CorrectedReports, FourPipelineHourlyTotalsRowSumsTheDay) {
    emulators::HcConfig config;
    config.version = 45;
    config.seed = kSeed;
    config.clockEpoch = kClock;
    config.hourlyRecords = 40;
    buildertest::ReadEmulatedHours(config, folder_.Path());
    calvix::ReportContext context;
    context.workState = calvix::WorkState::stHCHourly;
    context.dataTakeDate = {2024, 12, 7};
    context.deviceVersion = 45;
    ExpectHourlyTotals(Corrected(kHourlyArgs, context), 4);
}

TEST_F(CorrectedReports, SeveralDayTotalsOverTheChosenDays) {
    const fs::path path = folder_.Path() / "sbl" / "days_hw.sbl";
    std::string text = buildertest::ReadText(path);
    text.replace(0, text.find("\r\n"), "@cycle 5,28");  // 29 November .. 2 December
    buildertest::WriteText(path, text);
    calvix::ReportContext context;
    context.workState = calvix::WorkState::stHCSeveralDays;
    context.dataTakeDate = {2024, 12, 7};
    context.beginDate = {2024, 11, 29};
    context.endDate = {2024, 12, 2};
    const auto lines =
        Corrected({"1", "3", "sbl\\days_hw.sbl", "hc\\dat1hc", "hc\\txt\\out.txt"}, context);
    const auto [rows, totals] = buildertest::ReadTable(lines);
    ASSERT_EQ(rows.size(), 4u);  // 31 November is gone
    double heat = 0, mass = 0;
    const std::pair<unsigned, unsigned> days[] = {{11, 29}, {11, 30}, {12, 1}, {12, 2}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i][0], days[i].second);
        const emulators::PeriodRecord r = emulators::MakeDayRecord(
            kSeed, *emulators::DayNumberOf(2024, days[i].first, days[i].second));
        buildertest::ExpectPrinted(
            rows[i][2], static_cast<double>(r.pipelines[0].heatGj) - r.pipelines[1].heatGj, 2,
            "heat");
        buildertest::ExpectPrinted(rows[i][3], r.pipelines[0].massT, 3, "mass");
        heat += rows[i][2];
        mass += rows[i][3];
    }
    // The totals are those of the printed rows.
    ASSERT_GE(totals.size(), 4u);
    EXPECT_NEAR(totals[2], heat, 1e-9);
    EXPECT_NEAR(totals[3], mass, 1e-9);
}

// The workstation appends the period to the heading: each shipped several-day template keeps a
// blank before it.
TEST_F(CorrectedReports, SeveralDayHeadingsGetThePeriodAfterABlank) {
    calvix::ReportContext context;
    context.workState = calvix::WorkState::stHCSeveralDays;
    context.dataTakeDate = {2024, 12, 7};
    context.beginDate = {2024, 11, 29};
    context.endDate = {2024, 12, 2};
    for (const char* name : {"days_hw", "tp_hw"}) {
        const fs::path path = folder_.Path() / "sbl" / (std::string(name) + ".sbl");
        std::string text = buildertest::ReadText(path);
        text.replace(0, text.find(" ", 7), "@cycle 5,28");  // as the workstation rewrites it
        buildertest::WriteText(path, text);
        const auto lines = Corrected(
            {"1", "3", std::string("sbl\\") + name + ".sbl", "hc\\dat1hc", "hc\\txt\\out.txt"},
            context);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines[0].ends_with("по суткам С 29.11.2024 ПО 02.12.2024")) << lines[0];
    }
}

// A report that could not be made shows its reason in every report window, not "Отчет пуст".
TEST_F(CorrectedReports, ReasonOfAReportNotMadeSurvivesTheCorrection) {
    buildertest::WriteText(folder_.Path() / "sbl" / "bad.sbl",
                           platform::Utf8ToCp1251("@period day\n{Q9}\n"));
    const std::string reason = "| Ошибка в шаблоне, строка 2: неизвестное поле Q9 |";
    using calvix::WorkState;
    const std::pair<WorkState, const char*> cases[] = {
        {WorkState::stHCReports, "Отчет не создан."},
        {WorkState::stHCHourly, "Отчет не создан."},
        {WorkState::stHCSeveralDays, "Отчет не создан. С 29.11.2024 ПО 02.12.2024"},
        {WorkState::stUpdSeveralDays, "Отчет не создан. С 29.11.2024 ПО 02.12.2024"}};
    for (const auto& [state, heading] : cases) {
        std::ostringstream err;
        ASSERT_EQ(builder::RunBuilder({"1", "3", "sbl\\bad.sbl", "hc\\dat1hc", "hc\\txt\\out.txt"},
                                      folder_.Path(), err),
                  builder::kExitReportExplains);
        std::vector<std::string> lines;
        ASSERT_TRUE(calvix::LoadTextLines(folder_.Path() / "hc/txt/out.txt", lines));
        ASSERT_TRUE(calvix::ReportHasTable(lines));
        calvix::ReportContext context;
        context.workState = state;
        context.dataTakeDate = {2024, 12, 7};
        context.beginDate = {2024, 11, 29};
        context.endDate = {2024, 12, 2};
        context.deviceVersion = 60;
        calvix::CorrectReport(lines, context);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_TRUE(platform::Cp1251ToUtf8(lines[0]).ends_with(heading)) << lines[0];
        EXPECT_EQ(platform::Cp1251ToUtf8(lines[2]), reason) << static_cast<int>(state);
    }
}

}  // namespace

TEST(CorrectedDecade, ThirdDecadeOfALeapFebruaryKeepsItsTwentyNinthDay) {
    testsupport::ScratchFolder folder;
    fs::create_directories(folder.Path() / "hc" / "txt");
    buildertest::CopyShippedTemplates(folder.Path());
    std::vector<double> mass(31, 0.0);
    for (int day = 21; day <= 29; ++day) {
        mass[static_cast<std::size_t>(day - 1)] = day;  // slots of February 2024
    }
    buildertest::DataFileMaker()
        .Start()
        .Clock(0x07, 0x03, 0x24)
        .Channel(0x0B, 1, 0x20, mass)
        .Stop()
        .Save(folder.Path() / "hc" / "dat1hc");
    std::ostringstream err;
    ASSERT_EQ(builder::RunBuilder({"1", "3", "sbl\\dec3_hw.sbl", "hc\\dat1hc", "hc\\txt\\d.txt"},
                                  folder.Path(), err),
              builder::kExitDone)
        << err.str();
    const std::string text = buildertest::ReadText(folder.Path() / "hc/txt/d.txt");
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    calvix::ReportContext context;
    context.workState = calvix::WorkState::stHCReports;
    context.dataTakeDate = {2024, 3, 7};
    calvix::CorrectReport(lines, context);
    for (std::string& line : lines) {
        line = platform::Cp1251ToUtf8(line);
    }
    const auto [rows, totals] = buildertest::ReadTable(lines);
    std::vector<double> days;
    for (const std::vector<double>& row : rows) {
        days.push_back(row.at(0));
    }
    EXPECT_EQ(days, (std::vector<double>{21, 22, 23, 24, 25, 26, 27, 28, 29}));
    ASSERT_GE(totals.size(), 4u);
    EXPECT_EQ(totals[3], 225.0);  // 21 + ... + 29
    EXPECT_EQ(lines[0].find("***CORRECT_BD3"), std::string::npos);
}
