#include "gui/rules/printer_choice.h"

#include <charconv>

#include "gui/rules/texts.h"

namespace calvix {

std::vector<std::string> FontSizeItems() {
    std::vector<std::string> items;
    for (int size = kSmallestFontSize; size <= kLargestFontSize; size += 2) {
        items.push_back(std::to_string(size));
    }
    return items;
}

std::vector<std::string_view> OrientationItems() {
    return {text::kPortrait, text::kLandscape};
}

int FontSizeFromText(std::string_view text, int previous) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    if (first == std::string_view::npos) {
        return previous;
    }
    text = text.substr(first, last - first + 1);
    int size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return previous;  // not a number counts as 0, which is out of range
    }
    return size >= kSmallestFontSize && size <= kLargestFontSize ? size : previous;
}

int OrientationFromText(std::string_view text, int previous) {
    if (text == text::kPortrait) {
        return kPortraitOrientation;
    }
    if (text == text::kLandscape) {
        return kLandscapeOrientation;
    }
    return previous;
}

std::string_view OrientationText(int orientation) {
    return orientation == kLandscapeOrientation ? text::kLandscape : text::kPortrait;
}

PrinterBoxLabels LabelsFor(bool printersFound) {
    if (printersFound) {
        return {text::kPrinterChoose, text::kPrinterSelected};
    }
    return {text::kPrintersNotFound, text::kPrinterGoOn};
}

}  // namespace calvix
