#include "gui/rules/report_creation.h"

#include <cctype>
#include <charconv>

#include "gui/rules/report_correction.h"
#include "platform/cp1251_literal.h"
#include "platform/file_io.h"

namespace calvix {
namespace text {

inline constexpr std::string_view kYearShort = W1251(" г");

}  // namespace text

namespace {

constexpr std::string_view kMonthCommand = "touch.exe 1 3 ";
constexpr std::string_view kDeepCommand = "hc\\touch180.exe s ";
constexpr std::string_view kCycleMark = "@cycle";

bool FromUpd(WorkState state) {
    return state == WorkState::stUpdReports || state == WorkState::stUpdHourly ||
           state == WorkState::stUpdSeveralDays;
}

std::string_view OutputFolder(WorkState state) {
    return FromUpd(state) ? "txt\\" : "hc\\txt\\";
}

std::string_view DataArgument(WorkState state) {
    return FromUpd(state) ? " dat " : " hc\\dat1hc ";
}

// A number with a "0" in front when it is below 10.
std::string TwoDigits(int value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

std::string DateCaption(int day, int month, int year) {
    return std::to_string(day) + " " + std::string(MonthName(MonthForm::LowerGenitive, month)) +
           " " + std::to_string(year) + std::string(text::kYearShort);
}

int Slot(CalendarDate firstMonth, CalendarDate date) {
    const bool first = date.year == firstMonth.year && date.month == firstMonth.month;
    return first ? date.day : date.day + 31;
}

}  // namespace

std::string TemplatePath(std::string_view templateFolder, std::string_view name) {
    return std::string(templateFolder) + "\\" + std::string(name) + ".sbl";
}

std::optional<BuilderRun> MonthRun(WorkState state, std::string_view templateFolder,
                                   std::string_view name) {
    if (state != WorkState::stUpdReports && state != WorkState::stHCReports) {
        return std::nullopt;
    }
    BuilderRun run;
    run.templatePath = TemplatePath(templateFolder, name);
    run.output = std::string(OutputFolder(state)) + std::string(name) + ".txt";
    run.commandLine = std::string(kMonthCommand) + run.templatePath +
                      std::string(DataArgument(state)) + run.output;
    return run;
}

std::optional<HourlyEntry> ParseHourlyEntry(std::string_view entry) {
    int values[3] = {};
    std::size_t found = 0;
    std::size_t at = 0;
    while (found < 3 && at < entry.size()) {
        if (!std::isdigit(static_cast<unsigned char>(entry[at]))) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < entry.size() && std::isdigit(static_cast<unsigned char>(entry[end]))) {
            ++end;
        }
        const auto [ptr, error] =
            std::from_chars(entry.data() + at, entry.data() + end, values[found]);
        if (error != std::errc() || ptr != entry.data() + end) {
            return std::nullopt;  // a run too long to be a date
        }
        ++found;
        at = end;
    }
    if (found < 3) {
        return std::nullopt;
    }
    return HourlyEntry{values[0], values[1], values[2] % 100};
}

std::string HourlyOutputName(const HourlyEntry& entry) {
    return TwoDigits(entry.day) + TwoDigits(entry.month) + TwoDigits(entry.year) + ".txt";
}

std::optional<BuilderRun> HourlyRun(WorkState state, std::string_view templateFolder,
                                    const HourlyEntry& entry) {
    if (state != WorkState::stUpdHourly && state != WorkState::stHCHourly) {
        return std::nullopt;
    }
    BuilderRun run;
    run.templatePath = TemplatePath(templateFolder, kHourlyTemplateName);
    run.output = std::string(OutputFolder(state)) + HourlyOutputName(entry);
    run.commandLine = std::string(kMonthCommand) + run.templatePath +
                      std::string(DataArgument(state)) + run.output + " " +
                      std::to_string(entry.year) + " " + std::to_string(entry.month) + " " +
                      std::to_string(entry.day);
    return run;
}

std::string HourlyCaption(const HourlyEntry& entry) {
    if (entry.month < 1 || entry.month > 12) {
        return {};
    }
    return DateCaption(entry.day, entry.month, 2000 + entry.year);
}

std::optional<BuilderRun> SeveralDayRun(WorkState state, std::string_view templateFolder,
                                        std::string_view name, bool deepArchiveMode,
                                        std::string_view dateRangeText) {
    if (state != WorkState::stUpdSeveralDays && state != WorkState::stHCSeveralDays) {
        return std::nullopt;
    }
    BuilderRun run;
    run.templatePath = TemplatePath(templateFolder, name);
    run.output = std::string(OutputFolder(state)) + std::string(name) + ".txt";
    if (!deepArchiveMode) {
        run.commandLine = std::string(kMonthCommand) + run.templatePath +
                          std::string(DataArgument(state)) + run.output;
        return run;
    }
    const std::string_view data = FromUpd(state) ? "dat " : "hc\\dat2hc ";
    run.commandLine = std::string(kDeepCommand) + std::string(data) + run.templatePath + " " +
                      run.output + " " + std::string(dateRangeText);
    return run;
}

std::string DateRangeText(CalendarDate begin, CalendarDate end) {
    return ShortDate(begin) + " " + ShortDate(end);
}

std::string SeveralDayCaption(CalendarDate begin, CalendarDate end, std::string_view caption) {
    return DateCaption(begin.day, begin.month, begin.year) + " - " +
           DateCaption(end.day, end.month, end.year) + ", " + std::string(caption);
}

CycleArguments CycleSlots(CalendarDate firstMonth, CalendarDate begin, CalendarDate end) {
    const int g = Slot(firstMonth, begin);
    const int h = Slot(firstMonth, end);
    return {h - g + 1, g - 1};
}

bool RewriteCycleLine(std::string& line, CycleArguments arguments) {
    const std::size_t p = line.find(kCycleMark);
    if (p == std::string::npos) {
        return false;
    }
    line.erase(p, kCycleMark.size() + 1);
    // Only from the mark on: a blank in text before it must not decide what is removed.
    const std::size_t blank = line.find(' ', p);
    line.erase(p, blank == std::string::npos ? std::string::npos : blank - p);
    line.insert(p, std::string(kCycleMark) + " " + std::to_string(arguments.count) + "," +
                       std::to_string(arguments.skip));
    return true;
}

bool RewriteCycleText(std::string& text, CycleArguments arguments) {
    const std::size_t mark = text.find(kCycleMark);
    if (mark == std::string::npos) {
        return false;
    }
    const std::size_t before = text.find_last_of("\r\n", mark);
    const std::size_t begin = before == std::string::npos ? 0 : before + 1;
    const std::size_t after = text.find_first_of("\r\n", mark);
    const std::size_t end = after == std::string::npos ? text.size() : after;
    std::string line = text.substr(begin, end - begin);
    RewriteCycleLine(line, arguments);
    text.replace(begin, end - begin, line);
    return true;
}

CycleRewrite RewriteCycleTemplate(const std::filesystem::path& file, CycleArguments arguments) {
    std::string bytes;
    switch (platform::ReadFileWhole(file, bytes)) {
        case platform::FileRead::kRead:
            break;
        case platform::FileRead::kTooLarge:
            return CycleRewrite::Failed;
        default:
            return CycleRewrite::Missing;
    }
    if (!RewriteCycleText(bytes, arguments)) {
        return CycleRewrite::NoCycleLine;
    }
    return platform::ReplaceFile(file, bytes) ? CycleRewrite::Rewritten : CycleRewrite::Failed;
}

}  // namespace calvix
