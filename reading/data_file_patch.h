// The hourly records of a freshly read data file get their fixed marks before the report
// builder sees them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace reading {

// Walks the records from the start (length high byte first, at most 512; the walk ends at the
// first record that is cut off or too long) and rewrites every hourly record longer than 30
// bytes whose byte 22, counted from the tag-length byte, is 2: bytes 22..24 := 01 00 04 and
// bytes 29..30 := 03 10. Answers how many records changed.
std::size_t PatchHourRecords(std::vector<std::uint8_t>& file);

// The same on a file, writing back only the bytes that change; false when it cannot be read
// or written.
bool PatchHourRecordsInFile(const std::filesystem::path& path);

}  // namespace reading
