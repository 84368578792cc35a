// The text side of printing a report: the report's lines (Windows-1251) become the sheets of a
// print job, with the table frame turned into positions the printer draws as real lines.
// Nothing here measures or draws; gui/report_printer does that with the printer's font.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/configuration.h"

namespace calvix {

// One sheet of a print job.
struct PrintSheet {
    // The sheet's lines as laid out (top margin, title, head, rows, closing lines); the fit
    // measures these.
    std::vector<std::string> lines;
    // The same lines as drawn: trailing blanks dropped (" " when nothing is left), border lines
    // between the sheet's first and last border line a single blank, other lines there with
    // every '|' a blank.
    std::vector<std::string> drawn;
    // border[i]: drawn[i] is a border line, drawn as a horizontal line at half its height.
    std::vector<bool> border;
};

struct PrintJob {
    // 1-based character positions of the '+' of the text's first border line: the vertical
    // lines. As many as the line has (no upper limit).
    std::vector<std::size_t> columns;
    std::vector<PrintSheet> sheets;  // never empty
};

// A line that, trimmed of blanks at both ends, begins with "+--".
bool IsBorderLine(std::string_view line);

// The lines as printed before the split: tabs as eight blanks, blank lines as `leftMargin`
// blanks, and every line shifted right so that the least indented one has at least
// `leftMargin` leading blanks (never shifted left).
std::vector<std::string> ApplyLeftMargin(const std::vector<std::string>& lines, int leftMargin);

// The whole print job of a report. A table (text between the second and third border lines)
// longer than `maxTableRows` rows goes on several sheets, each with the title line followed
// by " , Лист k", the table head, its share of the rows and the closing border; the last sheet
// ends with the rest of the text.
PrintJob LayoutPrintJob(const std::vector<std::string>& lines, const PrinterSettings& settings);

}  // namespace calvix
