#include "emulators/hc_commands.h"

#include <algorithm>

#include "emulators/hc_device.h"
#include "emulators/hc_memory_map.h"
#include "emulators/hc_values.h"

namespace emulators {

namespace {

using CommandHandler = std::vector<std::uint8_t> (*)(const CommandContext&);

std::vector<std::uint8_t> ClockCommand(const CommandContext& context) {
    const auto bcd = ClockBcd(context.deviceTime);
    std::vector<std::uint8_t> answer{kStatusAnswer};
    answer.insert(answer.end(), bcd.begin(), bcd.end());
    return answer;
}

std::vector<std::uint8_t> IdentityCommand(const CommandContext& context) {
    const std::string number = FactoryNumber(context.config.seed);
    std::vector<std::uint8_t> answer{kStatusAnswer};
    answer.insert(answer.end(), number.begin(), number.end());
    answer.push_back(static_cast<std::uint8_t>(context.personality.version));
    answer.push_back(context.config.address);
    answer.push_back(0);
    return answer;
}

std::vector<std::uint8_t> CurrentValuesCommand(const CommandContext& context) {
    return CurrentValuesAnswer(context.config.seed, context.deviceTime);
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

struct CommandEntry {
    std::uint8_t code;
    CommandHandler handler;
};

// The archive record commands of the later firmware versions join this table.
constexpr CommandEntry kCommands[] = {
    {kCommandClock, ClockCommand},
    {kCommandCurrentValues, CurrentValuesCommand},
    {kCommandArchivePage, ArchivePageCommand},
    {kCommandIdentity, IdentityCommand},
};

}  // namespace

std::vector<std::uint8_t> ExecuteDeviceCommand(std::uint8_t code, const CommandContext& context) {
    const auto& known = context.personality.commands;
    if (std::find(known.begin(), known.end(), code) == known.end()) {
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
