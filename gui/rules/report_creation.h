// Report creation without widgets: the builder's command lines and output names per work state,
// the hourly dates, the captions of created reports, and the "@cycle" line of several-day
// templates. Paths and texts are 1251 program paths (backslashes, relative to the work folder).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "gui/rules/month_tables.h"
#include "gui/rules/work_state.h"

namespace calvix {

inline constexpr std::string_view kMonthBuilder = "touch.exe";
inline constexpr std::string_view kDeepBuilder = "HC\\touch180.exe";
inline constexpr std::string_view kHourlyTemplateName = "hour_hw";

// One builder run: the template it reads, the report it writes, the whole command line.
struct BuilderRun {
    std::string templatePath;
    std::string output;
    std::string commandLine;
};

// templateFolder + "\" + name + ".sbl".
std::string TemplatePath(std::string_view templateFolder, std::string_view name);

// A report of the month template list (states 1 and 4); none in any other state.
std::optional<BuilderRun> MonthRun(WorkState state, std::string_view templateFolder,
                                   std::string_view name);

// A date of the hourly list: the first three digit runs, the year modulo 100.
struct HourlyEntry {
    int day = 0;
    int month = 0;
    int year = 0;
};
std::optional<HourlyEntry> ParseHourlyEntry(std::string_view entry);
// ddmmyy + ".txt".
std::string HourlyOutputName(const HourlyEntry& entry);
// The hourly report of a date (states 2 and 5); none in any other state.
std::optional<BuilderRun> HourlyRun(WorkState state, std::string_view templateFolder,
                                    const HourlyEntry& entry);
// "5 марта 2006 г"; empty for a month outside 1..12.
std::string HourlyCaption(const HourlyEntry& entry);

// A report of the several-day list (states 3 and 6): "touch.exe" over the rewritten "@cycle"
// template, or in the deep archive mode "hc\touch180.exe" with the date range.
std::optional<BuilderRun> SeveralDayRun(WorkState state, std::string_view templateFolder,
                                        std::string_view name, bool deepArchiveMode,
                                        std::string_view dateRangeText);
// "dd.mm.yyyy dd.mm.yyyy".
std::string DateRangeText(CalendarDate begin, CalendarDate end);
// "1 февраля 2006 г - 15 марта 2006 г, " + caption.
std::string SeveralDayCaption(CalendarDate begin, CalendarDate end, std::string_view caption);

// The two numbers of "@cycle N,S": N days after slot S of the two-month day scale whose first
// month is the one of `firstMonth` (its days are slots 1..31, the next month's 32..62).
struct CycleArguments {
    int count = 0;  // N
    int skip = 0;   // S
};
CycleArguments CycleSlots(CalendarDate firstMonth, CalendarDate begin, CalendarDate end);

// The first "@cycle" of the line and its old arguments, up to the first blank after them or
// the line's end, become "@cycle N,S". False when the line has no "@cycle".
bool RewriteCycleLine(std::string& line, CycleArguments arguments);
// The same on the first line of a text that holds "@cycle"; the other bytes stay as they are.
bool RewriteCycleText(std::string& text, CycleArguments arguments);

enum class CycleRewrite { Rewritten, NoCycleLine, Missing, Failed };
// Rewrites the template file through a temporary file beside it and a rename, so it is never
// left half written. Missing: it cannot be opened; Failed: it could not be written back (it
// stays as it was).
CycleRewrite RewriteCycleTemplate(const std::filesystem::path& file, CycleArguments arguments);

}  // namespace calvix
