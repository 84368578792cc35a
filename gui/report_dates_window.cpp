#include "gui/report_dates_window.h"

#include "gui/unitmainform.h"

namespace calvix {

TReportDatesWindow::TReportDatesWindow(TMainForm& form) : form_(form) {}

}  // namespace calvix
