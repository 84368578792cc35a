// Small helpers over 1251 report lines shared by the correction steps.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace calvix::report_text {

// A maximal run of the digits '0'..'9'; empty (length 0) when there is none.
struct DigitRun {
    std::size_t pos = std::string::npos;
    std::size_t length = 0;
    explicit operator bool() const { return length != 0; }
    std::size_t end() const { return pos + length; }
};

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Blanks and control characters, as a trim drops them at the ends of a line.
inline bool IsSpaceOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// The first digit run at or after `from`.
DigitRun FindDigitRun(std::string_view line, std::size_t from);
// The run's value; nothing when it is too long to read as a number.
std::optional<int> ReadRun(std::string_view line, DigitRun run);

// A decimal number with '.' as separator (sign and exponent allowed); nothing for any other text.
std::optional<double> ParseDecimal(std::string_view text);

// `value` with at most 15 significant digits, cut (not rounded) to `decimals` places after the
// point and filled up with zeros: 1.23456 -> "1.234" for 3 places.
std::string FixedCut(double value, int decimals);

}  // namespace calvix::report_text
