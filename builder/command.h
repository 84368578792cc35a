// The builder's command lines, as the workstation starts it:
//   touch.exe 1 3 <template> <data file> <output> [<year> <month> <day>]
//   hc\touch180.exe s <data file> <template> <output> <dd.mm.yyyy> <dd.mm.yyyy>
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace builder {

inline constexpr int kExitDone = 0;
inline constexpr int kExitReportExplains = 1;  // the output holds the reason instead of a report
inline constexpr int kExitNotWritten = 2;      // the output could not be written
inline constexpr int kExitUsage = 64;

// Runs one build; paths are Windows-style and relative to `base`. Messages for the person at
// the console go to `err`.
int RunBuilder(const std::vector<std::string>& args, const std::filesystem::path& base,
               std::ostream& err);

// Writes `bytes` to `path` through a temporary file in the same folder and a rename, so the
// output is either complete or absent. False with errno set on failure.
bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace builder
