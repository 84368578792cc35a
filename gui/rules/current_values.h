// The heat calculator's current values as the operator sees them: the answer of the
// current-values command turned into the texts of the 20 fields, the factory number, the time
// the reading has been running, and the lines of the printed sheet. All texts are 1251.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gui/rules/activity_lamp.h"

namespace calvix {

inline constexpr std::size_t kCurrentFieldCount = 20;
inline constexpr std::size_t kCurrentAnswerSize = 77;  // status byte included
inline constexpr int kTwoPipelineVersion = 60;

// edHCCur1 .. edHCCur20 in that order: pipelines 1..4 each flow, heat power, temperature,
// pressure; then the error codes of pipelines 1..4.
using CurrentFieldTexts = std::array<std::string, kCurrentFieldCount>;

struct CurrentValuesFormat {
    int version = 0;         // the detected device version; 60 shows two pipelines
    bool wiLayout = false;   // device type "TV540WI": values 3 bytes earlier, power e - 6
    bool gigajoules = true;  // heat power in GJ/h, else Gcal/h
};

// The 4-byte device number at `bytes` (three BCD bytes, least significant first, then the
// exponent byte e + 128) as exact decimal text in the system's general form, scaled by
// `factor` and with `exponentShift` added to e. 0 when e is outside -4..4.
std::string DeviceNumberText(std::span<const std::uint8_t, 4> bytes, unsigned factor = 1,
                             int exponentShift = 0);
// The same value as a double, for comparisons (the 900 degree limit).
double DeviceNumberValue(std::span<const std::uint8_t, 4> bytes, unsigned factor = 1,
                         int exponentShift = 0);

// The 20 field texts of one answer (status byte first, at least 77 bytes); pipelines 3 and 4
// and their error codes stay empty for version 60. A shorter answer gives empty texts.
CurrentFieldTexts DecodeCurrentValues(std::span<const std::uint8_t> answer,
                                      const CurrentValuesFormat& format);

// "Заводской номер: " and answer bytes 1..4 of the factory-number command, up to a 00h or FFh.
std::string FactoryNumberText(std::span<const std::uint8_t> answer);

// "Считываются данные. Общее время считывания: [H час ]M мин S сек".
std::string ElapsedTimeText(std::chrono::seconds elapsed);

// One line of the sheet: its vertical offset in printer units (added to twice the font size)
// and its text; every line starts at x = 400.
struct SheetLine {
    int offset = 0;
    std::string text;
};
inline constexpr int kSheetLineX = 400;

// The 23 lines of "Ведомость текущих данных": the title with `date` and `time` (the system's
// short forms), the number and address labels, then the 20 fields with their row names.
std::vector<SheetLine> CurrentValuesSheet(const std::string& date, const std::string& time,
                                          const std::string& numberText,
                                          const std::string& addressText,
                                          const CurrentFieldTexts& fields);

}  // namespace calvix
