// Puts a laid-out report (gui/rules/print_layout) on a printer: the largest font size and the
// orientation at which every sheet fits the page, the text in "Courier New", the table frame as
// real lines, one page per sheet.
#pragma once

#include "gui/rules/print_layout.h"
#include "gui/rules/printer_choice.h"

class QPrinter;

namespace calvix {

struct PrintOutcome {
    bool ok = false;  // false: the caller shows "Ошибка при распечатке архива."
    int fontSize = 0;     // the size printed with
    int orientation = 0;  // kPortraitOrientation or kLandscapeOrientation
};

// The size and orientation at which every sheet fits the printer's page: the chosen ones when
// they fit; otherwise the other orientation at the same size, then the chosen orientation a
// point smaller, and so on, ending with the other orientation at the smallest size when
// nothing fits. Leaves the printer in the orientation returned.
PrintOutcome FitReport(QPrinter& printer, const PrintJob& job, int fontSize, int orientation);

// Fits and prints the job as the document "Отчет". Any failure aborts a job already begun and
// gives ok = false; the printer's output may then be incomplete.
PrintOutcome PrintReport(QPrinter& printer, const PrintJob& job, int fontSize, int orientation);

}  // namespace calvix
