#include "emulators/hc_commands.h"

#include <algorithm>

#include "emulators/hc_archive.h"
#include "emulators/hc_device.h"
#include "emulators/hc_memory_map.h"
#include "emulators/hc_values.h"

namespace emulators {

namespace {

using CommandHandler = std::vector<std::uint8_t> (*)(const CommandContext&);

std::vector<std::uint8_t> ClockCommand(const CommandContext& context) {
    if (context.config.clockStatus != kStatusAnswer) {
        return {context.config.clockStatus, 0, 0, 0, 0, 0, 0};
    }
    auto bcd = ClockBcd(context.deviceTime);
    if (context.config.clockBadDate) {
        bcd[3] = ToBcd(31);
        bcd[4] = ToBcd(4);
    }
    std::vector<std::uint8_t> answer{kStatusAnswer};
    answer.insert(answer.end(), bcd.begin(), bcd.end());
    return answer;
}

std::vector<std::uint8_t> IdentityCommand(const CommandContext& context) {
    const std::string number = context.config.factoryNumber.empty()
                                   ? FactoryNumber(context.config.seed)
                                   : context.config.factoryNumber;
    std::vector<std::uint8_t> answer{kStatusAnswer};
    answer.insert(answer.end(), number.begin(), number.end());
    answer.push_back(static_cast<std::uint8_t>(context.personality.version));
    answer.push_back(context.config.address);
    answer.push_back(0);
    return answer;
}

std::vector<std::uint8_t> CurrentValuesCommand(const CommandContext& context) {
    if (context.state.currentValuesCommands++ < context.config.currentValuesNotReady) {
        return {kStatusNoAnswer};
    }
    CurrentValuesOptions options;
    options.wiLayout = context.config.wiCurrentValues;
    options.pipeline1Temperature = context.config.pipeline1Temperature;
    return CurrentValuesAnswer(context.config.seed, context.deviceTime, options);
}

// Parameters: archive kind (1 daily, 2 monthly), page number from 0.
std::vector<std::uint8_t> ArchivePageCommand(const CommandContext& context) {
    if (context.params.size() < 2 || context.params[0] < 1 || context.params[0] > 2) {
        return {kStatusWrong};
    }
    const auto kind = static_cast<ArchiveKind>(context.params[0]);
    const auto page = ArchivePage(context.config.seed, kind, context.params[1]);
    if (!page) {
        return {kStatusNoRecord};
    }
    std::vector<std::uint8_t> answer{kStatusAnswer};
    answer.insert(answer.end(), page->begin(), page->end());
    return answer;
}

// ---- Hourly archive: 16 newest, 15 next older, 12 position at an hour -----------------------

std::vector<std::uint8_t> AnswerHour(const CommandContext& context, std::int64_t hour) {
    context.state.hourPosition = hour;
    return HourAnswer(context.personality, MakeHourRecord(context.config.seed, hour));
}

std::vector<std::uint8_t> HourFirstCommand(const CommandContext& context) {
    const auto newest = NewestHour(context.config, context.deviceTime);
    if (!newest) {
        context.state.hourPosition.reset();
        return {kStatusNoRecord};
    }
    return AnswerHour(context, *newest);
}

// Without a position yet it behaves like 16. At the end the position stays where it is.
std::vector<std::uint8_t> HourNextCommand(const CommandContext& context) {
    if (!context.state.hourPosition) {
        return HourFirstCommand(context);
    }
    const std::int64_t older = *context.state.hourPosition - 1;
    if (!HoldsHour(context.config, context.deviceTime, older)) {
        return {kStatusNoRecord};
    }
    return AnswerHour(context, older);
}

// Parameters: year, month, day, hour. An hour that is not in the archive leaves the position.
std::vector<std::uint8_t> HourAtCommand(const CommandContext& context) {
    const auto& p = context.params;
    if (p.size() < 4 || p[3] > 23) {
        return {kStatusWrong};
    }
    const auto day = DayNumberOf(2000 + p[0], p[1], p[2]);
    if (!day) {
        return {kStatusWrong};
    }
    const std::int64_t hour = *day * 24 + p[3];
    if (!HoldsHour(context.config, context.deviceTime, hour)) {
        return {kStatusNoRecord};
    }
    return AnswerHour(context, hour);
}

// ---- Daily and monthly archives -------------------------------------------------------------

// Parameters: year, month, day. Month or day out of 1..12, 1..31 is a wrong command; a date
// that does not exist (30 February) has no record.
std::vector<std::uint8_t> DayCommand(const CommandContext& context) {
    const auto& p = context.params;
    if (p.size() < 3 || p[1] < 1 || p[1] > 12 || p[2] < 1 || p[2] > 31) {
        return {kStatusWrong};
    }
    const auto day = DayNumberOf(2000 + p[0], p[1], p[2]);
    if (!day || !HoldsDay(context.config, context.personality, context.deviceTime, *day)) {
        return {kStatusNoRecord};
    }
    const PeriodRecord record = MakeDayRecord(context.config.seed, *day);
    switch (context.personality.dailyArchive) {
        case DailyArchive::Records55:
            return PeriodAnswer60(record, kDailyRecordType);
        case DailyArchive::Archive180:
            return Day180Answer(record);
        case DailyArchive::None:
            break;
    }
    return {kStatusWrong};
}

// Parameters: year, month (then 1, 0). The current month holds its days up to today.
std::vector<std::uint8_t> MonthCommand(const CommandContext& context) {
    const auto& p = context.params;
    if (p.size() < 2 || p[1] < 1 || p[1] > 12 ||
        context.personality.dailyArchive != DailyArchive::Records55) {
        return {kStatusWrong};
    }
    const int year = 2000 + p[0];
    if (!HoldsMonth(context.config, context.personality, context.deviceTime, year, p[1])) {
        return {kStatusNoRecord};
    }
    const PeriodRecord record =
        MakeMonthRecord(context.config.seed, {year, p[1], 1}, DayNumberAt(context.deviceTime));
    return PeriodAnswer60(record, kMonthlyRecordType);
}

struct CommandEntry {
    std::uint8_t code;
    CommandHandler handler;
};

constexpr CommandEntry kCommands[] = {
    {kCommandClock, ClockCommand},
    {kCommandCurrentValues, CurrentValuesCommand},
    {kCommandArchivePage, ArchivePageCommand},
    {kCommandIdentity, IdentityCommand},
    {kCommandHourFirst, HourFirstCommand},
    {kCommandHourNext, HourNextCommand},
    {kCommandHourAt, HourAtCommand},
    {kCommandDay, DayCommand},
    {kCommandMonth, MonthCommand},
};

}  // namespace

std::vector<std::uint8_t> ExecuteDeviceCommand(std::uint8_t code, const CommandContext& context) {
    const auto& known = context.personality.commands;
    const auto& refused = context.config.refusedCommands;
    if (std::find(known.begin(), known.end(), code) == known.end() ||
        std::find(refused.begin(), refused.end(), code) != refused.end()) {
        return {kStatusWrong};
    }
    for (const CommandEntry& entry : kCommands) {
        if (entry.code == code) {
            return entry.handler(context);
        }
    }
    return {kStatusWrong};
}

}  // namespace emulators
