#include "gui/rules/scheduled_reports.h"

#include <system_error>

#include "gui/rules/report_archive.h"
#include "gui/rules/report_files.h"
#include "gui/rules/texts.h"

namespace calvix {
namespace fs = std::filesystem;

std::vector<PlannedReport> PlanMonthReports(const Configuration& config, const PeriodLabels& labels,
                                            TemplateChoice choice) {
    const TemplateList list = config.ReadTemplateList(config.Templates().templateList);
    std::vector<PlannedReport> planned;
    for (std::size_t i = 0; i < list.templates.size() && i < list.captions.size(); ++i) {
        bool marked = false;
        const std::string caption = StripSelectedMark(list.captions[i], &marked);
        if ((!marked && choice == TemplateChoice::kMarked) || list.templates[i].empty()) {
            continue;
        }
        const std::optional<BuilderRun> run =
            MonthRun(WorkState::stHCReports, config.Templates().templateFolder, list.templates[i]);
        if (run) {
            planned.push_back({list.templates[i], ApplyPeriodLabels(caption, labels), *run});
        }
    }
    return planned;
}

std::string ArchiveReportTitle(std::string_view deviceTitle, std::string_view caption) {
    std::string title(deviceTitle.empty() ? text::kUnknownDevice : deviceTitle);
    title += caption;
    return title;
}

std::optional<std::string> SaveReportIntoArchive(const fs::path& startFolder,
                                                 std::string_view title,
                                                 const std::vector<std::string>& lines) {
    const std::string target = ArchiveTargetPath(startFolder, title);
    if (!MakeArchiveFolder(startFolder) || !WriteArchiveReport(startFolder, target, title, lines)) {
        return std::nullopt;
    }
    return target;
}

BuiltReport LoadCorrectedReport(const fs::path& file, const ReportContext& context,
                                std::vector<std::string>& lines, std::string& error) {
    lines.clear();
    error.clear();
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return BuiltReport::kMissing;
    }
    if (!LoadTextLines(file, lines)) {
        return BuiltReport::kUnreadable;
    }
    // The window shows such a text as "Отчет пуст": nothing worth keeping in the archive.
    if (!ReportHasTable(lines)) {
        return BuiltReport::kNoTable;
    }
    try {
        CorrectReport(lines, context);
    } catch (const ReportCorrectionError& e) {
        error = e.what();
        return BuiltReport::kNotCorrected;
    }
    return BuiltReport::kCorrected;
}

}  // namespace calvix
