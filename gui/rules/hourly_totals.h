// The totals row of an hourly report. The builder writes the hours as table rows
//   |hour|operating time|n per-pipeline counts|flow|heat|temperature|pressure|
// with n values (one per pipeline, n = 2 or 4) in each of the last four groups, the hours 0..23
// on lines 9..32 and the table's bottom frame on line 33. Hours without data carry "---".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace calvix {

inline constexpr std::size_t kFirstHourRow = 9;
inline constexpr std::size_t kLastHourRow = 32;

// Writes zeros into the hours without data and puts the frame, the totals row ("|Итого|"...)
// and the frame again on lines 33..35: time, flow and heat summed, temperature and pressure
// averaged over the operating time. A report with fewer than 33 lines, or without a frame line
// above line 34, has no hourly table and stays as it is.
void AddHourlyTotals(std::vector<std::string>& lines, int pipelines);

}  // namespace calvix
