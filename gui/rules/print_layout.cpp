#include "gui/rules/print_layout.h"

#include <algorithm>

#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsTrimmed(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsTrimmed(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsBlank(std::string_view line) {
    return Trim(line).empty();
}

std::string ExpandTabs(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (c == '\t') {
            out.append(8, ' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::size_t LeadingBlanks(std::string_view line) {
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string_view::npos ? line.size() : first;
}

// The text's lines after the margin, blank lines as one blank, with the border lines and the
// column positions noted.
struct ScannedText {
    std::vector<std::string> lines;
    std::vector<std::size_t> borders;  // indices into lines
    std::vector<std::size_t> columns;
};

ScannedText Scan(const std::vector<std::string>& source, int leftMargin) {
    ScannedText text;
    text.lines = ApplyLeftMargin(source, leftMargin);
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        std::string& line = text.lines[i];
        if (IsBlank(line)) {
            line = " ";
        } else if (IsBorderLine(line)) {
            if (text.borders.empty()) {
                for (std::size_t p = 0; p < line.size(); ++p) {
                    if (line[p] == '+') {
                        text.columns.push_back(p + 1);
                    }
                }
            }
            text.borders.push_back(i);
        }
    }
    return text;
}

std::size_t SheetCount(const ScannedText& text, int maxTableRows) {
    if (text.borders.size() < 3 || text.borders[2] <= text.borders[1]) {
        return 1;
    }
    const std::size_t rows = text.borders[2] - text.borders[1] - 1;
    return rows == 0 ? 1 : (rows - 1) / static_cast<std::size_t>(maxTableRows) + 1;
}

// Step over a sheet's lines: the part from its first to its last border line loses its frame
// characters, which the printer draws as lines.
void MakeDrawn(PrintSheet& sheet) {
    const std::size_t n = sheet.lines.size();
    sheet.border.assign(n, false);
    sheet.drawn.resize(n);
    std::size_t first = n;
    std::size_t last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (IsBorderLine(sheet.lines[i])) {
            sheet.border[i] = true;
            first = std::min(first, i);
            last = i;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        std::string line = IsBlank(sheet.lines[i]) ? std::string(" ") : sheet.lines[i];
        if (first <= i && i <= last) {
            if (sheet.border[i]) {
                line = " ";
            } else {
                std::replace(line.begin(), line.end(), '|', ' ');
            }
        }
        const std::size_t end = line.find_last_not_of(' ');
        line.resize(end == std::string::npos ? 0 : end + 1);
        sheet.drawn[i] = line.empty() ? std::string(" ") : line;
    }
}

}  // namespace

bool IsBorderLine(std::string_view line) {
    return Trim(line).starts_with("+--");
}

std::vector<std::string> ApplyLeftMargin(const std::vector<std::string>& lines, int leftMargin) {
    const std::size_t margin = static_cast<std::size_t>(std::max(leftMargin, 0));
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const std::string& line : lines) {
        out.push_back(IsBlank(line) ? std::string(margin, ' ') : ExpandTabs(line));
    }
    if (out.empty()) {
        return out;
    }
    std::size_t least = out.front().size();
    for (const std::string& line : out) {
        least = std::min(least, LeadingBlanks(line));
    }
    if (least < margin) {
        for (std::string& line : out) {
            line.insert(0, margin - least, ' ');
        }
    }
    return out;
}

PrintJob LayoutPrintJob(const std::vector<std::string>& lines, const PrinterSettings& settings) {
    const ScannedText text = Scan(lines, settings.leftMargin);
    const std::size_t rowsPerSheet = static_cast<std::size_t>(std::max(settings.maxTableRows, 1));
    const std::size_t sheets = SheetCount(text, static_cast<int>(rowsPerSheet));
    const std::vector<std::string> top(static_cast<std::size_t>(std::max(settings.topMargin, 0)),
                                       " ");
    PrintJob job;
    job.columns = text.columns;
    if (sheets == 1) {
        PrintSheet sheet;
        sheet.lines = top;
        sheet.lines.insert(sheet.lines.end(), text.lines.begin(), text.lines.end());
        job.sheets.push_back(std::move(sheet));
    } else {
        const auto& all = text.lines;
        const std::size_t head = text.borders[1];   // last line of the head
        const std::size_t close = text.borders[2];  // the line closing the table
        for (std::size_t k = 1; k <= sheets; ++k) {
            PrintSheet sheet;
            sheet.lines = top;
            sheet.lines.push_back(all[0] + std::string(W1251(" , Лист ")) + std::to_string(k));
            sheet.lines.insert(sheet.lines.end(), all.begin() + 1, all.begin() + head + 1);
            const std::size_t from = head + 1 + (k - 1) * rowsPerSheet;
            const std::size_t to = std::min(from + rowsPerSheet, close);
            sheet.lines.insert(sheet.lines.end(), all.begin() + from, all.begin() + to);
            if (k < sheets) {
                sheet.lines.push_back(all[text.borders[0]]);
            } else {
                sheet.lines.insert(sheet.lines.end(), all.begin() + close, all.end());
            }
            job.sheets.push_back(std::move(sheet));
        }
    }
    for (PrintSheet& sheet : job.sheets) {
        MakeDrawn(sheet);
    }
    return job;
}

}  // namespace calvix
