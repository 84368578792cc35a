// reportview: a report as calvix shows it, on a terminal. The data file is inspected as after a
// reading, the report's lines pass the same correction, and the result is printed in UTF-8;
// --save-archive also stores it in "Archive\" under the name the archive mode lists.
//
//   reportview DATAFILE REPORT [--state N] [--begin dd.mm.yyyy --end dd.mm.yyyy]
//              [--type TYPE] [--save-archive CAPTION]
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/report_archive.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/report_files.h"
#include "gui/rules/scheduled_reports.h"
#include "platform/codepage.h"

namespace {

namespace fs = std::filesystem;
using calvix::CalendarDate;
using calvix::WorkState;

constexpr int kExitFailure = 1;
constexpr std::string_view kUsage =
    "usage: reportview DATAFILE REPORT [--state N] [--begin dd.mm.yyyy --end dd.mm.yyyy]\n"
    "                  [--type TYPE] [--save-archive CAPTION]\n"
    "  --state N        the main window's work state (0..6; 4, heat-calculator reports, unless\n"
    "                   told); 3 and 6 are several-day reports and need --begin and --end\n"
    "  --type TYPE      the device type of calvix.ini's reading section (TV540)\n"
    "  --save-archive   also save the corrected report as Archive/<device title + CAPTION>.txt\n"
    "                   of the current folder\n";

struct Options {
    fs::path dataFile;
    fs::path report;
    WorkState state = WorkState::stHCReports;
    std::optional<CalendarDate> begin;
    std::optional<CalendarDate> end;
    std::string type = "TV540";
    std::optional<std::string> caption;  // UTF-8
};

class UsageError {
  public:
    explicit UsageError(std::string text) : text_(std::move(text)) {}
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

int Whole(std::string_view text, int low, int high, std::string_view what) {
    int value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || r.ec != std::errc{} || r.ptr != text.data() + text.size() || value < low ||
        value > high) {
        throw UsageError(std::string(what) + ": " + std::string(text));
    }
    return value;
}

CalendarDate DateOption(std::string_view text) {
    const CalendarDate date = text.size() == 10 && text[2] == '.' && text[5] == '.'
                                  ? CalendarDate{Whole(text.substr(6), 1, 9999, "not a date"),
                                                 Whole(text.substr(3, 2), 1, 12, "not a date"),
                                                 Whole(text.substr(0, 2), 1, 31, "not a date")}
                                  : CalendarDate{0, 0, 0};
    if (!calvix::IsValidDate(date)) {
        throw UsageError("not a date (dd.mm.yyyy): " + std::string(text));
    }
    return date;
}

Options ParseOptions(const std::vector<std::string_view>& args) {
    Options options;
    std::vector<std::string_view> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!arg.starts_with("--")) {
            files.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) {
            throw UsageError("missing value after " + std::string(arg));
        }
        const std::string_view value = args[++i];
        if (arg == "--state") {
            options.state = static_cast<WorkState>(Whole(value, 0, 6, "no work state"));
        } else if (arg == "--begin") {
            options.begin = DateOption(value);
        } else if (arg == "--end") {
            options.end = DateOption(value);
        } else if (arg == "--type") {
            options.type = value;
        } else if (arg == "--save-archive") {
            options.caption = std::string(value);
        } else {
            throw UsageError("unknown option " + std::string(arg));
        }
    }
    if (files.size() != 2) {
        throw UsageError("a data file and a report are needed");
    }
    options.dataFile = files[0];
    options.report = files[1];
    if (options.begin.has_value() != options.end.has_value()) {
        throw UsageError("--begin and --end go together");
    }
    return options;
}

bool SeveralDays(WorkState state) {
    return state == WorkState::stUpdSeveralDays || state == WorkState::stHCSeveralDays;
}

// As calvix saves a shown report: under the device title and the caption, the name shortened
// (with a title file) where the file system cannot hold it, never half written.
void SaveIntoArchive(const std::vector<std::string>& lines, const std::string& deviceTitle,
                     const std::string& captionUtf8) {
    const std::string title =
        calvix::ArchiveReportTitle(deviceTitle, platform::Utf8ToCp1251(captionUtf8));
    const std::optional<std::string> target = calvix::SaveReportIntoArchive(".", title, lines);
    if (!target) {
        throw std::runtime_error("cannot save " +
                                 platform::Cp1251ToUtf8(calvix::ArchiveTargetPath(".", title)));
    }
    std::fprintf(stderr, "saved as %s\n", platform::Cp1251ToUtf8(*target).c_str());
}

// The corrected lines (1251); throws std::runtime_error with a message for the terminal.
std::vector<std::string> CorrectedReport(const Options& options) {
    if (!fs::is_regular_file(options.dataFile)) {
        throw std::runtime_error("cannot read the data file " + options.dataFile.string());
    }
    calvix::ReportDates dates;
    dates.facts = calvix::InspectDataFile(options.dataFile, platform::Utf8ToCp1251(options.type));
    if (SeveralDays(options.state) && !dates.facts.deepArchiveMode && !options.begin) {
        throw UsageError("a several-day report needs --begin and --end");
    }
    dates.beginDate = options.begin.value_or(dates.facts.dataTakeDate);
    dates.endDate = options.end.value_or(dates.facts.dataTakeDate);
    std::vector<std::string> lines;
    if (!calvix::LoadTextLines(options.report, lines)) {
        throw std::runtime_error("cannot read the report " + options.report.string());
    }
    if (options.state == WorkState::stArchive) {
        return lines;  // saved reports are corrected already
    }
    if (!calvix::ReportHasTable(lines)) {
        // calvix shows "Отчет пуст"; the builder's reason is more use here.
        for (const std::string& line : lines) {
            std::fprintf(stderr, "%s\n",
                         platform::Cp1251ToUtf8(platform::Cp866ToCp1251(line)).c_str());
        }
        throw std::runtime_error("the report has no table: calvix shows \"Отчет пуст\"");
    }
    try {
        calvix::CorrectReport(lines, calvix::MakeReportContext(dates, options.state));
    } catch (const calvix::ReportCorrectionError& e) {
        throw std::runtime_error("the report cannot be corrected: " +
                                 platform::Cp1251ToUtf8(e.what()));
    }
    if (options.caption) {
        SaveIntoArchive(lines, dates.facts.deviceTitle, *options.caption);
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    try {
        for (const std::string& line : CorrectedReport(ParseOptions(args))) {
            std::printf("%s\n", platform::Cp1251ToUtf8(line).c_str());
        }
        return std::fflush(stdout) == 0 ? 0 : kExitFailure;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "reportview: %s\n%.*s", e.Text().c_str(),
                     static_cast<int>(kUsage.size()), kUsage.data());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reportview: %s\n", e.what());
    }
    return kExitFailure;
}
