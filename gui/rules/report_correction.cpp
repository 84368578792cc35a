#include "gui/rules/report_correction.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "gui/rules/hourly_totals.h"
#include "gui/rules/report_placeholders.h"
#include "gui/rules/report_text.h"
#include "platform/calendar.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "platform/text_trim.h"

namespace calvix {
namespace {

using report_text::IsDigit;
using report_text::IsSpaceOrControl;
using report_text::ParseDecimal;

constexpr std::string_view kEmptyValue = "?0.00?";
constexpr std::string_view kNoValue = "---";
constexpr std::size_t kMaxHeadingWidth = 100;
constexpr std::size_t kMaxSkippedBlanks = 100;

// Data rows of a table: from the line after the second frame line to the line before the third.
struct TableRows {
    std::size_t first;
    std::size_t last;
};

std::optional<TableRows> FindTableRows(const std::vector<std::string>& lines,
                                       std::string_view frame) {
    std::size_t count = 0;
    std::size_t second = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(frame) == std::string::npos) {
            continue;
        }
        if (++count == 2) {
            second = i;
        } else if (count == 3) {
            if (i < second + 2) {
                return std::nullopt;
            }
            return TableRows{second + 1, i - 1};
        }
    }
    return std::nullopt;
}

void AppendPeriod(std::vector<std::string>& lines, CalendarDate begin, CalendarDate end) {
    for (std::string& line : lines) {
        if (!platform::TrimSpaceAndControl(line).empty()) {
            line += std::string(W1251("С ")) + ShortDate(begin) + std::string(W1251(" ПО ")) +
                    ShortDate(end);
            return;
        }
    }
}

// Half way between the row's first two '|'.
std::optional<std::size_t> DayColumn(std::string_view row) {
    std::size_t first = row.find('|');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t next = row.find('|', first + 1);
    if (next == std::string_view::npos) {
        return std::nullopt;
    }
    return first + (next - first) / 2;
}

void WriteDay(std::string& row, std::size_t column, int day) {
    const std::string digits = std::to_string(day);
    if (row.size() < column + digits.size()) {
        row.resize(column + digits.size(), ' ');
    }
    // The old number goes as a whole, so a shorter day leaves none of its digits behind.
    std::size_t from = column;
    std::size_t to = column;
    while (from > 0 && IsDigit(row[from - 1])) {
        --from;
    }
    while (to < row.size() && IsDigit(row[to])) {
        ++to;
    }
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(from),
              row.begin() + static_cast<std::ptrdiff_t>(to), ' ');
    row.replace(column, digits.size(), digits);
}

// Writes the real days over the rows; a day the first month lacks loses its row and its slot.
void Renumber(std::vector<std::string>& lines, TableRows& rows, long& slots, std::size_t column,
              CalendarDate begin, CalendarDate end) {
    std::size_t row = rows.first;
    auto write = [&](int day) {
        if (row <= rows.last) {
            WriteDay(lines[row++], column, day);
        }
    };
    if (begin.month == end.month) {
        for (int day = begin.day; day <= end.day; ++day) {
            write(day);
        }
        return;
    }
    const int days = platform::DaysInMonth(begin.year, begin.month);
    for (int day = begin.day; day <= 31; ++day) {
        if (day <= days) {
            write(day);
            continue;
        }
        if (row <= rows.last) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(row));
            --rows.last;
        }
        --slots;
    }
    for (int day = 1; day <= end.day; ++day) {
        write(day);
    }
}

// The value from `pos` on: leading blanks skipped, up to a blank or the cell's end.
std::string_view TakeValue(std::string_view row, std::size_t& pos) {
    while (pos < row.size() && IsSpaceOrControl(row[pos])) {
        ++pos;
    }
    std::size_t end = pos;
    while (end < row.size() && !IsSpaceOrControl(row[end]) && row[end] != '|') {
        ++end;
    }
    std::string_view value = row.substr(pos, end - pos);
    pos = end;
    return value;
}

[[noreturn]] void Unreadable(std::string_view cell) {
    throw ReportCorrectionError(std::string(W1251("Неверное значение в таблице отчета: \"")) +
                                std::string(cell) + "\"");
}

double CellValue(std::string_view text) {
    if (text == kNoValue) {
        return 0;
    }
    auto value = ParseDecimal(text);
    if (!value) {
        Unreadable(text);
    }
    return *value;
}

// Position after the n-th '|' from `pos`, or npos.
std::size_t AfterBars(std::string_view row, std::size_t pos, int count) {
    for (int i = 0; i < count && pos != std::string_view::npos; ++i) {
        pos = row.find('|', pos);
        if (pos != std::string_view::npos) {
            ++pos;
        }
    }
    return pos;
}

// The first two value columns after the day's cells.
std::pair<double, double> RowValues(std::string_view row) {
    std::size_t pos = AfterBars(row, 0, 3);
    if (pos == std::string_view::npos) {
        Unreadable(row);
    }
    const double a = CellValue(TakeValue(row, pos));
    pos = AfterBars(row, pos, 1);
    if (pos == std::string_view::npos) {
        Unreadable(row);
    }
    return {a, CellValue(TakeValue(row, pos))};
}

std::string SumText(double sum) {
    if (sum == 0) {
        return "0.000";
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15G", sum);
    return buffer;
}

// Writes the sum over the value field of the cell that starts at `cell`; returns the position
// after the field. A longer text takes the blanks to its left; beyond them the line grows rather
// than the text overwriting the cell's frame.
std::size_t WriteSum(std::string& line, std::size_t cell, double sum) {
    std::size_t pos = cell;
    for (std::size_t skipped = 0;
         pos < line.size() && line[pos] == ' ' && skipped < kMaxSkippedBlanks; ++skipped) {
        ++pos;
    }
    std::size_t end = pos;
    while (end < line.size() && !IsSpaceOrControl(line[end]) && line[end] != '|') {
        ++end;
    }
    std::string text = SumText(sum);
    std::size_t start = pos;
    if (text.size() < end - pos) {
        text.insert(0, end - pos - text.size(), ' ');
    } else {
        start = pos - std::min(pos - cell, text.size() - (end - pos));
    }
    line.replace(start, end - start, text);
    return start + text.size();
}

void WriteTotals(std::string& line, double a, double b) {
    std::size_t pos = AfterBars(line, 0, 3);
    if (pos == std::string::npos) {
        return;
    }
    // The first sum may grow the line: look for the next cell only once it is written.
    const std::size_t afterFirst = WriteSum(line, pos, a);
    pos = AfterBars(line, afterFirst, 1);
    if (pos != std::string::npos) {
        WriteSum(line, pos, b);
    }
}

std::string CollapseBlanks(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ' || out.empty() || out.back() != ' ') {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string ShortDate(CalendarDate date) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", date.day, date.month, date.year);
    return buffer;
}

std::string ConvertReportLine(std::string_view line) {
    std::string out = platform::Cp866LettersToCp1251(line);
    for (std::size_t pos = out.find(kEmptyValue); pos != std::string::npos;
         pos = out.find(kEmptyValue)) {
        out.erase(pos + 1, kEmptyValue.size() - 1);
    }
    return out;
}

void TrimDecadeTable(std::vector<std::string>& lines, CalendarDate dataTakeDate) {
    if (lines.empty()) {
        return;
    }
    std::string& head = lines[0];
    CalendarDate month = dataTakeDate;
    if (std::size_t pos = head.find(kPreviousMonthDecadesMark); pos != std::string::npos) {
        head.erase(pos, kPreviousMonthDecadesMark.size());
        month = PreviousMonth(dataTakeDate);
    } else if (pos = head.find(kTakeMonthDecadesMark); pos != std::string::npos) {
        head.erase(pos, kTakeMonthDecadesMark.size());
    } else {
        return;
    }
    auto rows = FindTableRows(lines, "+--");
    if (!rows) {
        return;
    }
    // The first row is day 21.
    const std::size_t pastLastDay =
        rows->first + static_cast<std::size_t>(platform::DaysInMonth(month.year, month.month)) - 20;
    if (pastLastDay <= rows->last) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(pastLastDay),
                    lines.begin() + static_cast<std::ptrdiff_t>(rows->last + 1));
    }
}

void CorrectSeveralDayTable(std::vector<std::string>& lines, CalendarDate begin, CalendarDate end) {
    AppendPeriod(lines, begin, end);
    auto rows = FindTableRows(lines, "+-");
    if (!rows) {
        return;
    }
    long slots = begin.month == end.month ? end.day - begin.day + 1 : end.day + 32 - begin.day;
    if (auto column = DayColumn(lines[rows->last])) {
        Renumber(lines, *rows, slots, *column, begin, end);
    }
    double sumA = 0;
    double sumB = 0;
    for (std::size_t i = rows->first; i <= rows->last; ++i) {
        auto [a, b] = RowValues(lines[i]);
        if (static_cast<long>(i - rows->first) < slots) {
            sumA += a;
            sumB += b;
        }
    }
    if (rows->last + 2 < lines.size()) {
        WriteTotals(lines[rows->last + 2], sumA, sumB);
    }
}

void CenterHeading(std::vector<std::string>& lines) {
    auto frame = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("+--") != std::string::npos;
    });
    if (frame == lines.end()) {
        return;
    }
    const std::size_t c = frame->find("+--");
    const std::size_t r = frame->rfind('+');
    if (r == c) {
        return;
    }
    const std::size_t width = std::min(r - c, kMaxHeadingWidth);
    const std::string margin = frame->substr(0, c);
    for (auto line = lines.begin(); line != frame; ++line) {
        std::string text = CollapseBlanks(platform::TrimSpaceAndControl(*line));
        if (text.size() < width) {
            text.insert(0, (width - text.size()) / 2, ' ');
        }
        *line = margin + text;
    }
}

void CorrectReport(std::vector<std::string>& lines, const ReportContext& context) {
    std::vector<std::string> work;
    work.reserve(lines.size());
    for (const std::string& line : lines) {
        work.push_back(ConvertReportLine(line));
    }
    TrimDecadeTable(work, context.dataTakeDate);
    const WorkState state = context.workState;
    if ((state == WorkState::stUpdSeveralDays || state == WorkState::stHCSeveralDays) &&
        !context.deepArchiveMode) {
        CorrectSeveralDayTable(work, context.beginDate, context.endDate);
    }
    if (state == WorkState::stUpdHourly || state == WorkState::stHCHourly) {
        AddHourlyTotals(work, context.deviceVersion == 60 ? 2 : 4);
    }
    FillPlaceholders(work, context.reportDay);
    CenterHeading(work);
    lines = std::move(work);
}

}  // namespace calvix
