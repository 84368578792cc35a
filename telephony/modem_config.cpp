#include "telephony/modem_config.h"

#include <charconv>
#include <cstdlib>
#include <optional>

#include "platform/serial_port.h"

namespace telephony {
namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\n' || c == '\r';
}

std::optional<ModemConfig> ParseEntry(std::string_view entry) {
    std::string_view name = entry;
    ModemConfig config;
    if (const auto colon = entry.find(':'); colon != std::string_view::npos) {
        name = entry.substr(0, colon);
        const std::string_view rate = entry.substr(colon + 1);
        std::uint32_t value = 0;
        const auto [end, error] = std::from_chars(rate.data(), rate.data() + rate.size(), value);
        if (rate.empty() || error != std::errc() || end != rate.data() + rate.size() ||
            value == 0) {
            return std::nullopt;
        }
        config.maxRate = value;
    }
    const std::optional<int> number = platform::ComPortNumber(name);
    if (!number) {
        return std::nullopt;
    }
    config.portName = "COM" + std::to_string(*number);
    return config;
}

}  // namespace

std::vector<ModemConfig> ParseModemList(std::string_view text) {
    std::vector<ModemConfig> modems;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) {
            ++i;
        }
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        if (end > i) {
            const std::optional<ModemConfig> config = ParseEntry(text.substr(i, end - i));
            bool repeated = false;
            for (const ModemConfig& known : modems) {
                repeated = repeated || (config && known.portName == config->portName);
            }
            if (config && !repeated) {
                modems.push_back(*config);
            }
        }
        i = end;
    }
    return modems;
}

std::vector<ModemConfig> ConfiguredModems() {
    const char* value = std::getenv(kModemsVariable);
    return value != nullptr ? ParseModemList(value) : std::vector<ModemConfig>{};
}

}  // namespace telephony
