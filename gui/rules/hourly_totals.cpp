#include "gui/rules/hourly_totals.h"

#include <array>
#include <charconv>
#include <optional>
#include <string_view>

#include "gui/rules/report_text.h"
#include "platform/cp1251_literal.h"
#include "platform/text_trim.h"

namespace calvix {
namespace {

using report_text::FixedCut;
using report_text::ParseDecimal;

constexpr std::string_view kTotal = W1251("Итого");
constexpr std::size_t kTotalsLine = kLastHourRow + 2;

// A value group of the table: decimals, field width and the place of the point in the field
// (counted from 1).
struct Group {
    int decimals;
    std::size_t width;
    std::size_t point;
};
constexpr std::array<Group, 4> kGroups{{{3, 10, 7}, {2, 8, 6}, {1, 6, 5}, {2, 5, 3}}};
constexpr std::size_t kFirstGroupCell = 3;

struct Totals {
    long long time = 0;
    std::array<std::array<double, 4>, 4> sums{};  // [group][pipeline]
};

// The texts between consecutive '|'.
std::vector<std::string_view> Cells(std::string_view row) {
    std::vector<std::string_view> cells;
    std::size_t start = row.find('|');
    while (start != std::string_view::npos) {
        std::size_t next = row.find('|', start + 1);
        if (next == std::string_view::npos) {
            break;
        }
        cells.push_back(row.substr(start + 1, next - start - 1));
        start = next;
    }
    return cells;
}

bool ReplaceFirst(std::string& line, std::string_view from, std::string_view to) {
    std::size_t pos = line.find(from);
    if (pos == std::string::npos) {
        return false;
    }
    line.replace(pos, from.size(), to);
    return true;
}

void ZeroEmptyHour(std::string& row, int n) {
    ReplaceFirst(row, "---", "  0");
    if (n == 2) {
        ReplaceFirst(row, "------", "  0  0");
    } else {
        while (ReplaceFirst(row, "------------", "  0  0  0  0")) {
        }
    }
    for (const Group& group : kGroups) {
        const std::string empty =
            std::string(static_cast<std::size_t>(group.decimals - 1), ' ') + "---";
        const std::string zero = "0." + std::string(static_cast<std::size_t>(group.decimals), '0');
        for (int k = 0; k < n; ++k) {
            ReplaceFirst(row, empty, zero);
        }
    }
}

// An hour's operating time as a 32-bit integer, so 24 of them always add up; a larger one is
// unreadable and counts as 0.
long long WholeNumber(std::string_view cell) {
    cell = platform::TrimSpaceAndControl(cell);
    int value = 0;
    std::from_chars(cell.data(), cell.data() + cell.size(), value);
    return value;
}

// The group's values from the left; what is missing or unreadable counts as 0.
std::array<double, 4> GroupValues(std::string_view cell) {
    std::array<double, 4> values{};
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < values.size()) {
        pos = cell.find_first_not_of(' ', pos);
        if (pos == std::string_view::npos) {
            break;
        }
        std::size_t end = cell.find(' ', pos);
        std::string_view token = cell.substr(pos, end == std::string_view::npos ? end : end - pos);
        values[count++] = ParseDecimal(token).value_or(0.0);
        pos = end;
    }
    return values;
}

void AddHour(Totals& totals, const std::vector<std::string_view>& cells, int n) {
    const long long time = WholeNumber(cells[1]);
    totals.time += time;
    for (std::size_t g = 0; g < kGroups.size() && kFirstGroupCell + g < cells.size(); ++g) {
        auto values = GroupValues(cells[kFirstGroupCell + g]);
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
            // temperature and pressure are weighted by the time they were measured
            totals.sums[g][i] += g < 2 ? values[i] : values[i] * static_cast<double>(time);
        }
    }
}

std::string Field(double value, const Group& group) {
    std::string text = FixedCut(value, group.decimals);
    std::size_t integerWidth = group.point - 1;
    std::size_t point = text.find('.');
    if (point < integerWidth) {
        text.insert(0, integerWidth - point, ' ');
    }
    return text;
}

std::vector<std::string> TotalsCells(const Totals& totals, int n) {
    std::string time = std::to_string(totals.time);
    if (time.size() < 7) {
        time.insert(0, 7 - time.size(), ' ');
    }
    std::vector<std::string> cells{std::string(kTotal), time, std::string(n == 2 ? 9 : 12, ' ')};
    const double divisor = totals.time == 0 ? 1.0 : static_cast<double>(totals.time);
    for (std::size_t g = 0; g < kGroups.size(); ++g) {
        std::string text;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
            if (i > 0 && n == 2 && g > 0) {
                text += ' ';
            }
            double value = g < 2 ? totals.sums[g][i] : totals.sums[g][i] / divisor;
            text += Field(value, kGroups[g]);
        }
        cells.push_back(text);
    }
    return cells;
}

// The row under the frame: its margin, and each cell as wide as the frame's column, numbers to
// the right, the caption to the left.
std::string TotalsRow(std::vector<std::string> cells, std::string_view frame) {
    std::vector<std::size_t> corners;
    for (std::size_t pos = frame.find('+'); pos != std::string_view::npos;
         pos = frame.find('+', pos + 1)) {
        corners.push_back(pos);
    }
    std::string row;
    if (corners.size() > cells.size()) {
        row.assign(corners[0], ' ');
        for (std::size_t i = 0; i < cells.size(); ++i) {
            std::size_t width = corners[i + 1] - corners[i] - 1;
            if (cells[i].size() < width) {
                std::size_t at = i == 0 ? cells[i].size() : 0;
                cells[i].insert(at, width - cells[i].size(), ' ');
            }
        }
    }
    for (const std::string& cell : cells) {
        row += '|';
        row += cell;
    }
    row += '|';
    return row;
}

std::optional<std::string> TableFrame(const std::vector<std::string>& lines) {
    for (std::size_t i = std::min(lines.size(), kLastHourRow + 2); i-- > 0;) {
        if (lines[i].find("+-") != std::string::npos) {
            return lines[i];
        }
    }
    return std::nullopt;
}

}  // namespace

void AddHourlyTotals(std::vector<std::string>& lines, int pipelines) {
    const int n = pipelines == 2 ? 2 : 4;
    if (lines.size() <= kLastHourRow) {
        return;
    }
    auto frame = TableFrame(lines);
    if (!frame) {
        return;
    }
    Totals totals;
    for (std::size_t i = kFirstHourRow; i <= kLastHourRow; ++i) {
        auto cells = Cells(lines[i]);
        if (cells.size() < 2) {
            continue;
        }
        if (cells[1].find('-') != std::string_view::npos) {
            ZeroEmptyHour(lines[i], n);
            continue;
        }
        AddHour(totals, cells, n);
    }
    const std::size_t frameLine = kLastHourRow + 1;
    if (lines.size() == frameLine) {
        lines.push_back(*frame);
    } else {
        lines[frameLine] = *frame;
    }
    auto at = lines.begin() + static_cast<std::ptrdiff_t>(kTotalsLine);
    at = lines.insert(at, TotalsRow(TotalsCells(totals, n), *frame));
    lines.insert(at + 1, *frame);
}

}  // namespace calvix
