#include "gui/rules/report_placeholders.h"

#include <algorithm>

#include "gui/rules/month_tables.h"
#include "gui/rules/report_text.h"
#include "platform/calendar.h"
#include "platform/cp1251_literal.h"

namespace calvix {
namespace {

using report_text::DigitRun;
using report_text::FindDigitRun;
using report_text::ReadRun;

constexpr std::string_view kFrom = W1251("С ");
constexpr std::string_view kTo = W1251(" ПО ");
constexpr std::string_view kYearEnd = W1251(" Г.");

int FullYear(int year) {
    return year < 100 ? year + 2000 : year;
}

// Removes the marker at its first place; the position it stood at, or npos.
std::size_t TakeMarker(std::string& line, std::string_view marker) {
    std::size_t pos = line.find(marker);
    if (pos != std::string::npos) {
        line.erase(pos, marker.size());
    }
    return pos;
}

// Writes a readable year run as its four-digit year.
void ReplaceYear(std::string& line, DigitRun year) {
    if (auto value = ReadRun(line, year)) {
        line.replace(year.pos, year.length, std::to_string(FullYear(*value)));
    }
}

bool IsMonth(std::optional<int> value) {
    return value && *value >= 1 && *value <= 12;
}

void PreviousYear(std::string& line) {
    std::size_t p = TakeMarker(line, kPreviousYearMark);
    if (p == std::string::npos) {
        return;
    }
    DigitRun year = FindDigitRun(line, p);
    if (auto value = ReadRun(line, year)) {
        line.replace(year.pos, year.length, std::to_string(FullYear(*value) - 1));
    }
}

void MonthYear(std::string& line) {
    std::size_t p = TakeMarker(line, kMonthYearMark);
    if (p == std::string::npos) {
        return;
    }
    DigitRun month = FindDigitRun(line, p);
    if (!month) {
        return;
    }
    ReplaceYear(line, FindDigitRun(line, month.end()));
    auto value = ReadRun(line, month);
    if (!IsMonth(value)) {
        return;
    }
    line.erase(month.pos, month.length);
    if (month.pos < line.size() && line[month.pos] == '.') {
        line[month.pos] = ' ';
    }
    line.insert(month.pos, MonthName(MonthForm::UpperNominative, *value));
}

void Period(std::string& line, int reportDay) {
    std::size_t p = TakeMarker(line, kPeriodMark);
    if (p == std::string::npos) {
        return;
    }
    DigitRun month = FindDigitRun(line, p);
    if (!month) {
        return;
    }
    DigitRun year = FindDigitRun(line, month.end());
    if (!year) {
        return;
    }
    auto m = ReadRun(line, month);
    auto y = ReadRun(line, year);
    std::string text = m && y ? ReportingPeriodText(*m, *y, reportDay) : std::string();
    if (text.empty()) {
        return;
    }
    line.erase(year.pos, year.length);
    line.erase(month.pos, month.length);
    if (month.pos < line.size() && line[month.pos] == '.') {
        line.erase(month.pos, 1);
    }
    line.insert(month.pos, text);
}

void DayMonthYear(std::string& line) {
    std::size_t p = TakeMarker(line, kDayMonthYearMark);
    if (p == std::string::npos) {
        return;
    }
    DigitRun day = FindDigitRun(line, p);
    if (!day) {
        return;
    }
    DigitRun month = FindDigitRun(line, day.end());
    if (month) {
        ReplaceYear(line, FindDigitRun(line, month.end()));
        auto value = ReadRun(line, month);
        if (IsMonth(value)) {
            line.erase(month.pos, month.length);
            if (month.pos < line.size() && line[month.pos] == '.') {
                line[month.pos] = ' ';
            }
            if (line[month.pos - 1] == '.') {  // the day stands before it, so pos > 0
                line[month.pos - 1] = ' ';
            }
            line.insert(month.pos, MonthName(MonthForm::UpperGenitive, *value));
        }
    }
    auto value = ReadRun(line, day);
    if (!IsMonth(value)) {
        return;  // only 1..12 are rewritten; other days keep their digits
    }
    line.erase(day.pos, day.length);
    std::string digits = std::to_string(*value);
    if (*value < 10 && day.pos < line.size() && line[day.pos] == '.') {
        digits.insert(0, 1, '0');
    }
    line.insert(day.pos, digits);
}

}  // namespace

std::string ReportingPeriodText(int month, int year, int reportDay) {
    if (reportDay <= 0 || month < 1 || month > 12 || year < 0) {
        return {};
    }
    const int fullYear = FullYear(year);
    const int days = platform::DaysInMonth(fullYear, month);
    if (reportDay > days) {
        return {};
    }
    auto name = [](int m) { return std::string(MonthName(MonthForm::UpperGenitive, m)); };
    const std::string day = std::to_string(reportDay);
    const std::string yearText = std::to_string(fullYear);
    if (reportDay == 1) {
        return std::string(kFrom) + "1 " + name(month) + std::string(kTo) + std::to_string(days) +
               " " + name(month) + " " + yearText + std::string(kYearEnd);
    }
    if (month == 12) {
        return std::string(kFrom) + day + " " + name(12) + " " + yearText + std::string(kYearEnd) +
               " " + std::string(kTo) + std::to_string(reportDay - 1) + " " + name(1) + " " +
               std::to_string(fullYear + 1) + std::string(kYearEnd);
    }
    const int end = std::min(reportDay - 1, platform::DaysInMonth(fullYear, month + 1));
    return std::string(kFrom) + day + " " + name(month) + std::string(kTo) + std::to_string(end) +
           " " + name(month + 1) + " " + yearText + std::string(kYearEnd);
}

void FillPlaceholders(std::string& line, int reportDay) {
    PreviousYear(line);
    MonthYear(line);
    Period(line, reportDay);
    DayMonthYear(line);
}

void FillPlaceholders(std::vector<std::string>& lines, int reportDay) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        FillPlaceholders(*it, reportDay);
    }
}

}  // namespace calvix
