#include "telephony/modem_config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <optional>

#include "platform/serial_port.h"

namespace telephony {
namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\n' || c == '\r';
}

std::optional<std::uint32_t> PositiveNumber(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0) {
        return std::nullopt;
    }
    return value;
}

bool StartsWithAt(std::string_view text) {
    return text.size() >= 2 && (text[0] == 'A' || text[0] == 'a') &&
           (text[1] == 'T' || text[1] == 't');
}

// A command line the modem is given as it is: printable, no blanks.
bool IsCommandText(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// ATDT, ATDP, ATX3DT: "AT", settings, then D with an optional T or P at the end.
bool IsDialPrefix(std::string_view text) {
    if (!StartsWithAt(text) || !IsCommandText(text)) {
        return false;
    }
    std::string upper;
    for (char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::size_t d = upper.rfind('D');
    return d != std::string::npos && d >= 2 &&
           (d + 1 == upper.size() ||
            (d + 2 == upper.size() && (upper.back() == 'T' || upper.back() == 'P')));
}

bool ApplyOption(std::string_view option, ModemConfig& config) {
    const std::size_t equals = option.find('=');
    const std::string_view key = option.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : option.substr(equals + 1);
    if (key == "rtscts" && equals == std::string_view::npos) {
        config.rtsCts = true;
        return true;
    }
    if (key == "dte") {
        const std::optional<std::uint32_t> rate = PositiveNumber(value);
        config.dteRate = rate.value_or(0);
        return rate.has_value();
    }
    if (key == "dial" && IsDialPrefix(value)) {
        config.dialPrefix = std::string(value);
        return true;
    }
    if (key == "init") {
        const std::string_view command = StartsWithAt(value) ? value.substr(2) : value;
        if (!IsCommandText(command)) {
            return false;
        }
        config.init.emplace_back(command);
        return true;
    }
    return false;
}

std::optional<ModemConfig> ParseEntry(std::string_view entry) {
    ModemConfig config;
    const std::size_t slash = entry.find('/');
    std::string_view name = entry.substr(0, slash);
    if (const auto colon = name.find(':'); colon != std::string_view::npos) {
        const std::optional<std::uint32_t> rate = PositiveNumber(name.substr(colon + 1));
        if (!rate) {
            return std::nullopt;
        }
        config.maxRate = *rate;
        name = name.substr(0, colon);
    }
    const std::optional<int> number = platform::ComPortNumber(name);
    if (!number) {
        return std::nullopt;
    }
    config.portName = "COM" + std::to_string(*number);
    std::size_t at = slash;
    while (at != std::string_view::npos) {
        const std::size_t next = entry.find('/', at + 1);
        const std::string_view option = entry.substr(
            at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1);
        if (!ApplyOption(option, config)) {
            return std::nullopt;
        }
        at = next;
    }
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

bool IsDialString(std::string_view number) {
    constexpr std::string_view kAllowed = "0123456789*#ABCDabcd,Ww@!TtPp -()";
    return std::all_of(number.begin(), number.end(),
                       [&](char c) { return kAllowed.find(c) != std::string_view::npos; });
}

}  // namespace telephony
