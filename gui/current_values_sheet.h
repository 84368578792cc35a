// "Ведомость текущих данных" on a printer: the sheet's lines (gui/rules/current_values) drawn
// where the device-unit offsets put them.
#pragma once

#include <vector>

#include "gui/rules/current_values.h"

class QPrinter;

namespace calvix {

// One page: each line at x = kSheetLineX and y = 2 x `fontSize` + its offset, in units of
// 1/600 inch from the printable area's corner, in "Courier New" of `fontSize` points; portrait
// for kPortraitOrientation, else landscape. False when the document could not be begun.
bool PrintCurrentValuesSheet(QPrinter& printer, const std::vector<SheetLine>& lines, int fontSize,
                             int orientation);

}  // namespace calvix
