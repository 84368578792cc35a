// hcautoread: the monthly reading without an operator. In a working folder it reads the heat
// calculator that calvix.ini's reading section names, as calvix reads it, makes the month
// reports that the report selection window offers checked, corrects them as the text window
// shows them and saves them into "Archive\" under the names "Сохранить все" gives. One line per
// step on stderr; exit 0 only when the reading and every report went through. A reading that
// fails makes and saves nothing.
//
//   hcautoread [--all]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "console/scheduled_read.h"
#include "gui/rules/configuration.h"
#include "gui/rules/report_archive.h"
#include "gui/rules/report_dates.h"
#include "gui/rules/report_files.h"
#include "gui/rules/scheduled_reports.h"
#include "platform/codepage.h"
#include "platform/event.h"
#include "platform/process.h"
#include "platform/serial_port.h"
#include "platform/stop_signals.h"

namespace {

namespace fs = std::filesystem;
using calvix::WorkState;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::string_view kUsage =
    "usage: hcautoread [--all]\n"
    "  reads the heat calculator of calvix.ini in the current folder and saves its month\n"
    "  reports into Archive/: those marked <выбран> in the device's template list, or with\n"
    "  --all every one of them\n";

// One line per step: a multi-line text of the worker goes on one line.
void Log(std::string_view text) {
    std::string line(text);
    for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n")) {
        line.replace(at, 2, " ");
    }
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    // Under systemd the journal stamps each line itself.
    if (std::getenv("JOURNAL_STREAM") == nullptr && localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    }
    std::fprintf(stderr, "%shcautoread: %.*s\n", stamp, static_cast<int>(line.size()), line.data());
    std::fflush(stderr);
}

bool Stopped() {
    const int signal = platform::StopSignal();
    if (signal == 0) {
        return false;
    }
    Log("stopped by signal " + std::to_string(signal));
    return true;
}

std::string Utf8(std::string_view text1251) {
    return platform::Cp1251ToUtf8(text1251);
}

// A program path as the log shows it: UTF-8 with forward slashes.
std::string Shown(std::string_view programPath) {
    std::string shown = Utf8(programPath);
    std::replace(shown.begin(), shown.end(), '\\', '/');
    return shown;
}

// What the reading will go through, for the log.
std::string LinkText(const calvix::ConnectionSettings& c) {
    const std::string address = " address " + std::to_string(c.abonent);
    if (c.useModem) {
        return "through the modem, number " + Utf8(c.phoneNumber) + "," + address;
    }
    std::string port = Utf8(c.portName);
    if (const auto number = platform::ComPortNumber(c.portName)) {
        port += " (" + platform::ComPortDevicePath(*number) + ")";
    }
    return port + address + " at " + std::to_string(c.portSpeed) + " Bd";
}

// The folder must be a working folder with its builder before the device is read: a wrong
// WorkingDirectory= then fails at once instead of after a reading.
bool CheckWorkingFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_regular_file(calvix::ProgramPath("calvix.ini", folder), ec)) {
        Log("no calvix.ini in " + folder.string() + ": not a working folder");
        return false;
    }
    if (!platform::FindProgram(std::string(calvix::kMonthBuilder), folder)) {
        Log("the report builder touch.exe is missing in " + folder.string());
        return false;
    }
    return true;
}

// Makes, corrects and saves one report; false when it did not reach the archive.
bool MakeReport(const calvix::PlannedReport& report, const calvix::ReportContext& context,
                const std::string& deviceTitle, const fs::path& folder) {
    const std::string what = Utf8(report.name) + " (" + Utf8(report.caption) + ")";
    std::error_code ec;
    if (!fs::is_regular_file(calvix::ProgramPath(report.run.templatePath, folder), ec)) {
        Log("template " + Shown(report.run.templatePath) + " is missing: no report " + what);
        return false;
    }
    const fs::path output = calvix::ProgramPath(report.run.output, folder);
    fs::remove(output, ec);  // a stale report must never pass for this one
    Log("building " + what + ": " + Utf8(report.run.commandLine));
    if (!calvix::RunReportBuilder(report.run.commandLine, folder)) {
        fs::remove(output, ec);  // a builder stopped at its budget may have left half of it
        Log("the builder failed on " + what);
        return false;
    }
    std::vector<std::string> lines;
    std::string error;
    switch (calvix::LoadCorrectedReport(output, context, lines, error)) {
        case calvix::BuiltReport::kCorrected:
            break;
        case calvix::BuiltReport::kMissing:
        case calvix::BuiltReport::kUnreadable:
            Log("the builder wrote no readable " + Shown(report.run.output));
            return false;
        case calvix::BuiltReport::kNoTable:
            Log("report " + what + " has no table (calvix shows it as empty): " +
                (lines.empty() ? std::string() : Utf8(platform::Cp866ToCp1251(lines.front()))));
            return false;
        case calvix::BuiltReport::kNotCorrected:
            Log("report " + what + " cannot be corrected: " + Utf8(error));
            return false;
    }
    const std::string title = calvix::ArchiveReportTitle(deviceTitle, report.caption);
    const auto saved = calvix::SaveReportIntoArchive(folder, title, lines);
    if (!saved) {
        Log("cannot save " + Shown(calvix::ArchiveTargetPath(folder, title)));
        return false;
    }
    Log("saved " + Shown(*saved));
    return true;
}

// The reports of the data file just read; the number that failed.
int MakeReports(calvix::Configuration& config, calvix::TemplateChoice choice,
                const fs::path& folder) {
    calvix::ReportDates dates;
    dates.facts = calvix::InspectDataFile(calvix::ProgramPath("hc\\dat1hc", folder),
                                          config.Connection().deviceType);
    dates.periodLabels = calvix::MakePeriodLabels(dates.facts);
    dates.beginDate = dates.facts.dataTakeDate;
    dates.endDate = dates.facts.dataTakeDate;
    config.LoadTemplateSettings(dates.facts.deviceVersion);
    Log("read " + Utf8(dates.facts.deviceTitle) + "version " +
        std::to_string(dates.facts.deviceVersion) + ", data taken " +
        calvix::ShortDate(dates.facts.dataTakeDate) + ", template list \"" +
        Utf8(config.Templates().templateList) + "\"");
    const std::vector<calvix::PlannedReport> planned =
        calvix::PlanMonthReports(config, dates.periodLabels, choice);
    if (planned.empty()) {
        Log(choice == calvix::TemplateChoice::kAll
                ? "the template list names no report"
                : "no report of the template list is marked <выбран> (mark one, or use --all)");
        return 1;
    }
    std::error_code ec;
    fs::create_directories(calvix::ProgramPath("hc\\txt", folder), ec);
    const calvix::ReportContext context = calvix::MakeReportContext(dates, WorkState::stHCReports);
    int failed = 0;
    for (const calvix::PlannedReport& report : planned) {
        if (Stopped()) {
            return failed + 1;
        }
        if (!MakeReport(report, context, dates.facts.deviceTitle, folder)) {
            ++failed;
        }
    }
    Log(std::to_string(planned.size() - static_cast<std::size_t>(failed)) + " of " +
        std::to_string(planned.size()) + " reports saved");
    return failed;
}

int Run(calvix::TemplateChoice choice) {
    const fs::path folder = fs::current_path();
    Log("working folder " + folder.string());
    if (!CheckWorkingFolder(folder)) {
        return kExitFailure;
    }
    calvix::Configuration config(calvix::ProgramPath("calvix.ini", folder));
    config.LoadConnectionSettings(WorkState::stHCReports);
    Log("reading " + LinkText(config.Connection()));
    auto stop = std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
    platform::StopOnSignals(stop);
    if (!calvix::ReadConfiguredDevice(config, false, false, Log, stop) || Stopped()) {
        Log("the reading failed; the archive is left as it was");
        return kExitFailure;
    }
    return MakeReports(config, choice, folder) == 0 ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    calvix::TemplateChoice choice = calvix::TemplateChoice::kMarked;
    for (const std::string_view arg : std::vector<std::string_view>(argv + 1, argv + argc)) {
        if (arg == "--all") {
            choice = calvix::TemplateChoice::kAll;
        } else {
            std::fprintf(stderr, "%.*s", static_cast<int>(kUsage.size()), kUsage.data());
            return arg == "--help" ? 0 : kExitUsage;
        }
    }
    try {
        return Run(choice);
    } catch (const std::exception& e) {
        Log(Utf8(e.what()));
    }
    return kExitFailure;
}
