#include "gui/rules/report_text.h"
#include "platform/text_trim.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace calvix::report_text {

DigitRun FindDigitRun(std::string_view line, std::size_t from) {
    DigitRun run;
    std::size_t pos = from;
    while (pos < line.size() && !IsDigit(line[pos])) {
        ++pos;
    }
    if (pos >= line.size()) {
        return run;
    }
    run.pos = pos;
    while (pos < line.size() && IsDigit(line[pos])) {
        ++pos;
    }
    run.length = pos - run.pos;
    return run;
}

std::optional<int> ReadRun(std::string_view line, DigitRun run) {
    if (!run) {
        return std::nullopt;
    }
    int value = 0;
    const char* first = line.data() + run.pos;
    auto [ptr, ec] = std::from_chars(first, first + run.length, value);
    if (ec != std::errc() || ptr != first + run.length) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    // from_chars would also take "inf" and "nan", which no table cell means.
    for (char c : text) {
        if (!IsDigit(c) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') {
            return std::nullopt;
        }
    }
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string FixedCut(double value, int decimals) {
    if (!std::isfinite(value)) {
        value = 0;
    }
    // Fixed notation with 15 significant digits, so 1.15 stays 1.15 and is not cut to 1.14.
    int precision = decimals;
    if (value != 0) {
        int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
        precision = std::max(decimals, std::min(14 - magnitude, 30));
    }
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
    std::string text(buffer);
    std::size_t point = text.find('.');
    if (point == std::string::npos) {
        point = text.size();
        text += '.';
    }
    text.resize(point + 1 + static_cast<std::size_t>(decimals), '0');
    if (decimals == 0) {
        text.pop_back();
    }
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) {
        text.erase(0, 1);  // a cut value of zero has no sign
    }
    return text;
}

}  // namespace calvix::report_text
