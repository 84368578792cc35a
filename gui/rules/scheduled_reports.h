// The month reports of an unattended reading, made as the report selection window makes them
// when the operator presses "Создать отчеты" without touching a box, and saved as "Сохранить все"
// saves them. Texts are 1251; paths are program paths relative to the working folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/configuration.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_creation.h"
#include "gui/rules/report_dates.h"

namespace calvix {

// Which templates of the month list are made: those whose caption carries "<выбран>" (the
// boxes the window shows checked), or every one.
enum class TemplateChoice { kMarked, kAll };

struct PlannedReport {
    std::string name;     // the template's key
    std::string caption;  // the check box's caption: mark removed, period names put in
    BuilderRun run;
};

// The month list of the loaded template settings, in the window's order; templates with an
// empty name are left out, as the window's run leaves them out.
std::vector<PlannedReport> PlanMonthReports(const Configuration& config, const PeriodLabels& labels,
                                            TemplateChoice choice);

// The title a report is saved under: the device title ("Не определен, " when there is none)
// + the caption.
std::string ArchiveReportTitle(std::string_view deviceTitle, std::string_view caption);

// Makes "Archive" when needed and writes the lines under the title's archive name (an
// existing report of that title is replaced, never half written). The program path written,
// nullopt when the report was not saved.
std::optional<std::string> SaveReportIntoArchive(const std::filesystem::path& startFolder,
                                                 std::string_view title,
                                                 const std::vector<std::string>& lines);

enum class BuiltReport { kCorrected, kMissing, kUnreadable, kNoTable, kNotCorrected };

// Loads a builder output and corrects it as the text window shows it. With kNoTable `lines`
// holds the builder's text (866) as written; with kNotCorrected `error` holds why (1251).
BuiltReport LoadCorrectedReport(const std::filesystem::path& file, const ReportContext& context,
                                std::vector<std::string>& lines, std::string& error);

}  // namespace calvix
