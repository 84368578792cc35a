#include "gui/workflows.h"

#include "gui/current_values_window.h"
#include "gui/hc_read_flow.h"
#include "gui/hc_work_window.h"
#include "gui/report_archive.h"
#include "gui/report_creation.h"
#include "gui/report_dates_window.h"
#include "gui/report_print.h"
#include "gui/upd_flow.h"

namespace calvix {

std::vector<std::unique_ptr<QObject>> MakeWorkflows(TMainForm& form) {
    std::vector<std::unique_ptr<QObject>> workflows;
    workflows.push_back(std::make_unique<THCWorkWindow>(form));
    workflows.push_back(std::make_unique<TReportDatesWindow>(form));
    workflows.push_back(std::make_unique<THCReadFlow>(form));
    workflows.push_back(std::make_unique<TReportCreation>(form));
    workflows.push_back(std::make_unique<TReportArchive>(form));
    workflows.push_back(std::make_unique<TReportPrint>(form));
    workflows.push_back(std::make_unique<TUpdFlow>(form));
    workflows.push_back(std::make_unique<TCurrentValuesWindow>(form));
    return workflows;
}

}  // namespace calvix
