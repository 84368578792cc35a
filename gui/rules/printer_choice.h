// What the printer choice box asks for and keeps while the program runs: the font size and the
// page orientation of printed reports, and the box's texts with and without printers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace calvix {

inline constexpr int kPortraitOrientation = 1;
inline constexpr int kLandscapeOrientation = 2;
inline constexpr int kSmallestFontSize = 6;
inline constexpr int kLargestFontSize = 16;

struct PrintChoice {
    int fontSize = 10;
    int orientation = kPortraitOrientation;
};

// The font sizes the box offers: "6", "8", ... "16".
std::vector<std::string> FontSizeItems();
// The orientations the box offers, portrait first (1251 texts).
std::vector<std::string_view> OrientationItems();

// The size typed or picked: a whole number 6..16 (blanks around it allowed), else `previous`.
int FontSizeFromText(std::string_view text, int previous);
// "вертикально" → portrait, "горизонтально" → landscape, anything else → `previous`.
int OrientationFromText(std::string_view text, int previous);
std::string_view OrientationText(int orientation);

// The two centred labels above the printer list.
struct PrinterBoxLabels {
    std::string_view first;
    std::string_view second;
};
PrinterBoxLabels LabelsFor(bool printersFound);

}  // namespace calvix
