// The builder on hand-made data files: values against sums and weighted means worked out by
// hand, the command lines, and every kind of bad input.
#include <gtest/gtest.h>

#include <bit>

#include "builder/archive.h"
#include "emulators/hc_archive.h"
#include "emulators/hc_memory_map.h"
#include "protocol/data_file.h"
#include "tests/builder/report_files.h"
#include "tests/support/scratch_folder.h"

namespace {

using buildertest::DataFileMaker;
using buildertest::RunIn;
namespace fs = std::filesystem;

// Two days of November 2024 in a version-60 file taken on 07.12.2024.
DataFileMaker TwoNovemberDays() {
    DataFileMaker file;
    file.Start().Clock(0x07, 0x12, 0x24);
    auto channel = [&](std::uint8_t pipe, std::uint8_t quantity, double day1, double day2) {
        file.Channel(0x0B, pipe, quantity, {day1, day2});
    };
    channel(1, 0x1F, 10.5, 9.5);   // heat, GJ
    channel(2, 0x1F, 6.25, 5.75);  //
    channel(1, 0x20, 100, 90);     // mass, t
    channel(2, 0x20, 98, 88);      //
    channel(1, 0x21, 80, 70);      // temperature, °C
    channel(2, 0x21, 50, 52);      //
    channel(1, 0x23, 0.6, 0.7);    // pressure, MPa
    channel(2, 0x23, 0.4, 0.46);   //
    channel(0, 0x1F, 24, 24);      // device on, h
    channel(1, 0x22, 24, 12);      // operating time, h
    channel(2, 0x22, 24, 24);      //
    file.Stop();
    return file;
}

class Builder : public ::testing::Test {
  protected:
    fs::path Folder() const { return folder_.Path(); }
    void Template(const std::string& utf8) {
        buildertest::WriteText(Folder() / "sbl" / "t.sbl", platform::Utf8ToCp1251(utf8));
    }
    buildertest::Run Build(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"1", "3", "sbl\\t.sbl", "hc\\dat1hc", "hc\\txt\\t.txt"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunIn(Folder(), args, "hc/txt/t.txt");
    }
    void SetUp() override {
        fs::create_directories(Folder() / "hc" / "txt");
        TwoNovemberDays().Save(Folder() / "hc" / "dat1hc");
    }
    testsupport::ScratchFolder folder_;
};

TEST_F(Builder, SumsAndOperatingTimeWeightedMeansOfThePreviousMonth) {
    Template(
        "@period prevmonth\n"
        "@rows days\n"
        "{day:>2} {dQ12:6.2} {T1:5.1}\n"
        "@end\n"
        "TOTAL {W:5.1} {dQ12:6.2} {M1:8.3} {T1:5.1} {T2:5.1} {P1:4.2} {P2:4.2}\n");
    const auto run = Build();
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    ASSERT_EQ(run.lines.size(), 31u);  // the 30 days of November and the totals
    EXPECT_EQ(run.lines[0], " 1   4.25  80.0");
    EXPECT_EQ(run.lines[1], " 2   3.75  70.0");
    EXPECT_EQ(run.lines[2], " 3    ---   ---");
    // T1 = (80 x 24 + 70 x 12) / 36, P1 = (0.6 x 24 + 0.7 x 12) / 36, T2 and P2 plain means.
    EXPECT_EQ(run.lines[30], "TOTAL  48.0   8.00  190.000  76.7  51.0 0.63 0.43");
}

TEST_F(Builder, WritesCodePage866WithCrLf) {
    Template("@period prevmonth\nИтого {M2:.1} т\n");
    const auto run = Build();
    ASSERT_EQ(run.exitCode, builder::kExitDone);
    EXPECT_EQ(buildertest::ReadText(Folder() / "hc/txt/t.txt"),
              platform::Cp1251ToCp866(platform::Utf8ToCp1251("Итого 186.0 т\r\n")));
}

// "@cycle N,S" as the workstation writes it: N = h - g + 1, S = g - 1 for the begin slot g and
// the end slot h, so the report has the slots S + 1 .. S + N.
struct CycleCase {
    const char* line;
    std::vector<std::string> rows;
};

class CycleSlots : public Builder, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(CycleSlots, RunFromThePreviousMonthIntoTheTakeMonth) {
    std::vector<double> mass(62, 0.0);
    mass[0] = 11;   // 1 November
    mass[29] = 55;  // 30 November
    mass[31] = 66;  // 1 December
    mass[40] = 77;  // 10 December
    DataFileMaker()
        .Start()
        .Clock(0x07, 0x12, 0x24)
        .Channel(0x0B, 1, 0x20, mass)
        .Stop()
        .Save(Folder() / "hc" / "dat1hc");
    Template(std::string(GetParam().line) +
             " rest of the line\n@rows days\n{day}.{mm} {M1:.0}\n@end\n");
    const auto run = Build();
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    EXPECT_EQ(run.lines, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    TwoMonthScale, CycleSlots,
    ::testing::Values(
        // 30 November .. 1 December: slots 30, 31 (a day November lacks) and 32.
        CycleCase{"@cycle 3,29", {"30.11 55", "31.11 ---", "1.12 66"}},
        // 10 .. 12 December: slots 41 .. 43.
        CycleCase{"@cycle 3,40", {"10.12 77", "11.12 ---", "12.12 ---"}},
        CycleCase{"@cycle 4,29", {"30.11 55", "31.11 ---", "1.12 66", "2.12 ---"}},
        CycleCase{"@cycle 1,0", {"1.11 11"}}));

TEST_F(Builder, PlaceholdersAndTextFieldsPassThrough) {
    Template("@period prevmonth\nза ***CORRECT_MONTH_YEAR{mm}.{yy} {{x}} № {number}\n");
    const auto run = Build();
    ASSERT_EQ(run.exitCode, builder::kExitDone);
    EXPECT_EQ(run.lines[0], "за ***CORRECT_MONTH_YEAR11.24 {x} № не определен");
}

TEST_F(Builder, LineEndsInTheDeviceTextsKeepTheReportLine) {
    DataFileMaker file;
    file.Start().Clock(0x07, 0x12, 0x24);
    file.Record({0xE6, 0, 0x39, 0x40, 0}, {'1', '2', '\n', '3', 0});
    file.Record({0xE6, 0, 0x3A, 0x40, 0}, {'A', '\r', '\n', 'B'});
    file.Channel(0x0B, 0, 0x1F, {24, 24});
    file.Stop().Save(Folder() / "hc" / "dat1hc");
    Template("@period prevmonth\n{number}|{address}|\n");
    const auto run = Build();
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    EXPECT_EQ(run.utf8, "12?3|A??B|\r\n");
}

TEST_F(Builder, ADayRecordHoldingNaNIsMissingNotPrinted) {
    DataFileMaker file;
    file.Start().Clock(0x07, 0x12, 0x24);
    std::vector<std::uint8_t> day(96, 0);
    day[2] = 0xC0;  // heat of pipeline 1: a quiet NaN
    day[3] = 0x7F;
    file.Record({0x0B, 0, 0x24, 0x29, 0}, day);
    file.Stop().Save(Folder() / "hc" / "dat1hc");
    Template("@period month\n{Q1}\n");
    const auto run = Build();
    EXPECT_EQ(run.exitCode, builder::kExitReportExplains) << run.utf8;
    EXPECT_EQ(run.utf8.find("nan"), std::string::npos) << run.utf8;
}

TEST_F(Builder, HourlyCommandLineWithoutHourlyRecordsExplainsInTheReport) {
    Template("@rows hours\n{hours} {M1}\n@end\n");
    const auto run = Build({"24", "11", "1"});
    EXPECT_EQ(run.exitCode, builder::kExitReportExplains);
    EXPECT_NE(run.utf8.find("Нет часовых записей за 01.11.2024."), std::string::npos) << run.utf8;
}

struct BadTemplate {
    const char* text;
    const char* message;
};

class BadTemplates : public Builder, public ::testing::WithParamInterface<BadTemplate> {};

TEST_P(BadTemplates, ExplainTheLineInTheReport) {
    Template(GetParam().text);
    const auto run = Build();
    EXPECT_EQ(run.exitCode, builder::kExitReportExplains);
    EXPECT_EQ(run.lines.at(0), "Отчет не создан. ");
    EXPECT_EQ(buildertest::Reason(run), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, BadTemplates,
    ::testing::Values(
        BadTemplate{"a\n@rows days\nx\n",
                    "Ошибка в шаблоне, строка 2: блок не закрыт строкой @end"},
        BadTemplate{"@bogus\n", "Ошибка в шаблоне, строка 1: неизвестная директива @bogus"},
        BadTemplate{"@end\n", "Ошибка в шаблоне, строка 1: @end без открытого блока"},
        BadTemplate{"\n{Q9}\n", "Ошибка в шаблоне, строка 2: неизвестное поле Q9"},
        BadTemplate{"{Q1\n", "Ошибка в шаблоне, строка 1: поле не закрыто знаком }"},
        BadTemplate{"{Q1:8.x}\n",
                    "Ошибка в шаблоне, строка 1: после точки в формате нужно число знаков"},
        BadTemplate{"{Q1:8f}\n", "Ошибка в шаблоне, строка 1: неверный формат поля: 8f"},
        BadTemplate{"a } b\n", "Ошибка в шаблоне, строка 1: лишняя } (для знака } пишите }})"},
        BadTemplate{"@rows weeks\n",
                    "Ошибка в шаблоне, строка 1: @rows ждет days, hours или months"},
        BadTemplate{"@period month\n@rows days\n@pipes 2\n@rows hours\n",
                    "Ошибка в шаблоне, строка 4: @rows внутри другого блока @rows"},
        BadTemplate{"@cycle 40,30\n",
                    "Ошибка в шаблоне, строка 1: @cycle ждет N,S: N суток после суток S, всего не "
                    "больше 62"},
        BadTemplate{"{M1}\n", "В шаблоне не указан период: нужна строка @period или @cycle."},
        BadTemplate{"@period day\n{M1}\n",
                    "Нет записей архива за период с 06.12.2024 по 06.12.2024."}));

TEST_F(Builder, TruncatedDataFileIsReportedNotShown) {
    Template("@period prevmonth\n{M1}\n");
    auto file = TwoNovemberDays();
    file.bytes.resize(file.bytes.size() - 5);
    file.Save(Folder() / "hc" / "dat1hc");
    const auto run = Build();
    EXPECT_EQ(run.exitCode, builder::kExitReportExplains);
    EXPECT_EQ(buildertest::Reason(run), "Файл данных поврежден: запись по смещению " +
                                            std::to_string(file.bytes.size() - 14) +
                                            " обрывается.");
}

TEST_F(Builder, DataFileWithoutItsStopRecordIsIncomplete) {
    Template("@period prevmonth\n{M1}\n");
    auto file = TwoNovemberDays();
    file.bytes.resize(file.bytes.size() - 19);
    file.Save(Folder() / "hc" / "dat1hc");
    const auto run = Build();
    EXPECT_EQ(buildertest::Reason(run), "Файл данных неполон: нет записи конца файла.");
}

TEST_F(Builder, MissingInputsAreNamed) {
    const auto noTemplate = Build();
    EXPECT_EQ(buildertest::Reason(noTemplate), "Файл шаблона не найден: sbl\\t.sbl");
    Template("@period prevmonth\n{M1}\n");
    fs::remove(Folder() / "hc" / "dat1hc");
    const auto noData = Build();
    EXPECT_EQ(buildertest::Reason(noData), "Файл данных не найден: hc\\dat1hc");
}

TEST_F(Builder, OutputThatCannotBeWrittenLeavesNothingBehind) {
    Template("@period prevmonth\n{M1}\n");
    fs::create_directories(Folder() / "hc" / "txt" / "t.txt");  // a folder where the file goes
    std::ostringstream err;
    EXPECT_EQ(builder::RunBuilder({"1", "3", "sbl\\t.sbl", "hc\\dat1hc", "hc\\txt\\t.txt"},
                                  Folder(), err),
              builder::kExitNotWritten);
    EXPECT_NE(err.str().find("cannot write hc\\txt\\t.txt"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(Folder() / "hc" / "txt" / "t.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder() / "hc" / "txt"), {}), 1);
    EXPECT_EQ(builder::RunBuilder({"1", "3", "sbl\\t.sbl", "hc\\dat1hc", "nofolder\\t.txt"},
                                  Folder(), err),
              builder::kExitNotWritten);
}

TEST_F(Builder, WrongCommandLinesWriteNothing) {
    std::ostringstream err;
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"1", "3", "a", "b"},
                                                 {"1", "2", "a", "b", "c"},
                                                 {"s", "a", "b", "c", "01.01.2024"},
                                                 {"1", "3", "a", "b", "c", "24", "1"}}) {
        EXPECT_EQ(builder::RunBuilder(args, Folder(), err), builder::kExitUsage);
    }
}

TEST_F(Builder, DeepBuilderTakesItsDatesFromTheCommandLine) {
    Template("@rows days\n{date} {M1:.0}\n@end\n{T1:.1}\n");
    const auto run =
        RunIn(Folder(), {"s", "hc\\dat1hc", "sbl\\t.sbl", "out.txt", "02.11.2024", "03.11.2024"},
              "out.txt");
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"02.11.2024 90", "03.11.2024 ---", "70.0"}));
    const auto wrong =
        RunIn(Folder(), {"s", "hc\\dat1hc", "sbl\\t.sbl", "out.txt", "31.11.2024", "03.11.2024"},
              "out.txt");
    EXPECT_EQ(buildertest::Reason(wrong), "Неверная дата в командной строке: 31.11.2024");
}

class DeviceNumbers : public ::testing::TestWithParam<double> {};

TEST_P(DeviceNumbers, ReadBackWhatTheReaderStores) {
    const double value = GetParam();
    std::uint8_t four[4] = {};
    std::uint8_t eight[8] = {};
    protocol::ToDeviceNumber4(static_cast<float>(value), four);
    protocol::ToDeviceNumber8(value, eight);
    EXPECT_NEAR(builder::DecodeDeviceNumber4(four), value, std::fabs(value) * 5e-5);   // 5 digits
    EXPECT_NEAR(builder::DecodeDeviceNumber8(eight), value, std::fabs(value) * 5e-7);  // 7 digits
}

INSTANTIATE_TEST_SUITE_P(Values, DeviceNumbers,
                         ::testing::Values(1.0, 0.5, 12.345, -1.0, -73.25, 0.0, 1234.567, 0.00042,
                                           86400.0));

}  // namespace

namespace {

// A day or month of a parameter-list reading: four pipelines of heat, mass, temperature,
// pressure, operating and fault hours.
buildertest::Bytes ListRecord(double heat1, double mass1, double t1, double hours1) {
    buildertest::Bytes data;
    for (int p = 0; p < 4; ++p) {
        const bool first = p == 0;
        for (float v :
             {static_cast<float>(first ? heat1 : 1.0), static_cast<float>(first ? mass1 : 2.0),
              static_cast<float>(first ? t1 : 50.0), 0.5f,
              static_cast<float>(first ? hours1 : 24.0), 0.0f}) {
            const auto bits = std::bit_cast<std::uint32_t>(v);
            for (int b = 0; b < 4; ++b) {
                data.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
            }
        }
    }
    return data;
}

}  // namespace

TEST_F(Builder, ParameterListDaysAndMonthsAreDatedFromTheClock) {
    DataFileMaker()
        .Start()
        .Clock(0x07, 0x12, 0x24)
        .Record({0x0B, 0, 0x24, 0x29, 0}, ListRecord(3.5, 40, 80, 24))   // 6 December
        .Record({0x0B, 2, 0x24, 0x29, 0}, ListRecord(2.5, 30, 70, 12))   // 4 December
        .Record({0x0C, 0, 0x24, 0x29, 0}, ListRecord(99, 900, 75, 700))  // November
        .Stop()
        .Save(Folder() / "hc" / "dat1hc");
    Template(
        "@period year\n@rows months\n{mm} {M1:.1} {T1:.1}\n@end\n"
        "{M1:.1} {T1:.1} {M4:.1}\n");
    const auto run = Build();
    ASSERT_EQ(run.exitCode, builder::kExitDone) << run.utf8;
    ASSERT_EQ(run.lines.size(), 13u);
    EXPECT_EQ(run.lines[10], "11 900.0 75.0");
    // December from its days: 40 + 30 t, (80 x 24 + 70 x 12) / 36.
    EXPECT_EQ(run.lines[11], "12 70.0 76.7");
    EXPECT_EQ(run.lines[12], "970.0 75.1 6.0");
    const auto days = RunIn(
        Folder(), {"s", "hc\\dat1hc", "sbl\\t.sbl", "o.txt", "03.12.2024", "06.12.2024"}, "o.txt");
    EXPECT_EQ(days.lines, (std::vector<std::string>{"12 70.0 76.7", "70.0 76.7 4.0"}));
}

namespace {

// An hourly record as a reader stores it: `kept` answer bytes after the status.
struct HourSize {
    int version;
    std::size_t kept;
    int pipelines;  // 0: the builder leaves the hour out
};

class HourRecordSizes : public ::testing::TestWithParam<HourSize> {};

TEST_P(HourRecordSizes, GiveTheHourWithEveryPipelineTheyHold) {
    const HourSize size = GetParam();
    const std::int64_t number = *emulators::DayNumberOf(2024, 12, 6) * 24 + 13;
    const emulators::HourRecord hour = emulators::MakeHourRecord(7, number);
    const emulators::ByteVector answer =
        emulators::HourAnswer(*emulators::FindPersonality(size.version), hour);
    ASSERT_GT(answer.size(), size.kept);
    DataFileMaker file;
    file.Start();
    const std::vector<std::uint8_t> record = protocol::HourRecord(0, answer.data(), size.kept);
    file.bytes.insert(file.bytes.end(), record.begin(), record.end());
    file.Stop();
    const builder::Archive archive = builder::ParseDataFile(
        std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
    EXPECT_EQ(archive.pipelines, size.pipelines);
    const auto found = archive.hours.find({builder::Date{2024, 12, 6}, 13});
    if (size.pipelines == 0) {
        EXPECT_EQ(found, archive.hours.end());
        return;
    }
    ASSERT_NE(found, archive.hours.end());
    const builder::Values& v = found->second;
    EXPECT_NEAR(v.on, hour.operatingSeconds / 3600.0, 1e-9);
    for (int p = 0; p < builder::kMaxPipelines; ++p) {
        const auto i = static_cast<std::size_t>(p);
        const emulators::PipelineTotals t =
            p < size.pipelines ? hour.pipelines[i] : emulators::PipelineTotals{};
        EXPECT_NEAR(v.heat[i], t.heatGj, 1e-4 * t.heatGj) << p;
        EXPECT_NEAR(v.mass[i], t.massT, 1e-4 * t.massT) << p;
        EXPECT_NEAR(v.temperature[i], t.temperatureC, 1e-4 * t.temperatureC) << p;
        EXPECT_NEAR(v.pressure[i], t.pressureMpa, 1e-4 * t.pressureMpa) << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, HourRecordSizes,
                         ::testing::Values(HourSize{60, 57, 2},  // version 60
                                           HourSize{45, 91, 4},  // a parameter list's hours
                                           HourSize{45, 90,
                                                    4},  // the deep archive of the line reader
                                           HourSize{45, 89, 0}));

}  // namespace
