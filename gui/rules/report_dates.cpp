#include "gui/rules/report_dates.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "platform/calendar.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "platform/file_io.h"

namespace calvix {
namespace text {

inline constexpr std::string_view kUndefined = W1251("не определен");
inline constexpr std::string_view kDevicePrefix = W1251("Прибор № ");
inline constexpr std::string_view kYearSuffix = W1251(" г");
inline constexpr std::string_view kReportMonthPrefix = W1251("отчетный месяц (");

inline constexpr std::array<std::string_view, 7> kPeriodLabels{
    W1251("текущий день"),  W1251("прошлый день"),           W1251("текущий месяц"),
    W1251("прошлый месяц"), W1251("отчетный месяц (месяц)"), W1251("текущий год"),
    W1251("прошлый год"),
};

}  // namespace text

namespace {

constexpr std::size_t kPayloadWindow = 256;
constexpr std::uint8_t kTagLength = 0x05;
constexpr std::uint8_t kTagGroup = 0xE6;
constexpr std::uint8_t kClockCode = '6';
constexpr std::uint8_t kSettingsCode = '=';
constexpr std::uint8_t kNumberCode = '9';
constexpr std::uint8_t kAddressCode = ':';
constexpr std::uint8_t kVersionWithDeepArchive = 0x35;

// A regular file read front to back; anything else (a folder, a FIFO) counts as not opened.
class DataFileReader {
  public:
    explicit DataFileReader(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        struct stat info {};
        if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~DataFileReader() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    DataFileReader(const DataFileReader&) = delete;
    DataFileReader& operator=(const DataFileReader&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    // True when all `count` bytes came; the end of the file or an error gives false.
    bool ReadExactly(std::uint8_t* buffer, std::size_t count) {
        return platform::ReadExactly(fd_, buffer, count);
    }

  private:
    int fd_;
};

// Two decimal digits as the byte's hexadecimal digits; -1 when a digit is above 9.
int FromBcd(std::uint8_t byte) {
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    if (high > 9 || low > 9) {
        return -1;
    }
    return high * 10 + low;
}

// Bytes first..last of the payload (as far as it goes), ending at a zero byte, FFh left out,
// in 1251.
std::string DeviceText(const std::uint8_t* payload, std::size_t length, std::size_t first,
                       std::size_t last) {
    std::string raw;
    for (std::size_t i = first; i <= last && i < length && payload[i] != 0; ++i) {
        if (payload[i] != 0xFF) {
            raw += static_cast<char>(payload[i]);
        }
    }
    return platform::Cp866LettersToCp1251(raw);
}

struct Walk {
    DataFileFacts& facts;
    std::string_view deviceType;
    bool clockSeen = false;
    bool settingsSeen = false;
    bool numberSeen = false;
    bool addressSeen = false;
    CalendarDate clock{-1, -1, -1};

    bool AllSeen() const { return clockSeen && settingsSeen && numberSeen && addressSeen; }

    // `length` is the whole payload's; only the first bytes of a long one are held.
    void Use(const std::uint8_t* payload, std::size_t length) {
        if (length < 4 || payload[0] != kTagLength || payload[1] != kTagGroup || payload[2] != 0) {
            return;
        }
        const std::uint8_t code = payload[3];
        if (code == kClockCode && !clockSeen && length >= 12) {
            clockSeen = true;
            clock = {FromBcd(payload[11]), FromBcd(payload[10]), FromBcd(payload[9])};
        } else if (code == kSettingsCode && !settingsSeen && length > 20) {
            settingsSeen = true;
            facts.deviceVersion = payload[20];
            if (payload[20] == kVersionWithDeepArchive &&
                (deviceType == "TV540W" || deviceType == "TV540F")) {
                facts.deepArchiveMode = true;
            }
            if (length > 23) {
                facts.reportDay = payload[23];
            }
        } else if (code == kNumberCode && !numberSeen && length > 6) {
            numberSeen = true;
            facts.deviceNumber = DeviceText(payload, length, 6, 13);
        } else if (code == kAddressCode && !addressSeen && length > 6) {
            addressSeen = true;
            facts.address = DeviceText(payload, length, 6, 31);
        }
    }
};

// Records until the end, a short read, or until all four kinds were seen.
void WalkRecords(DataFileReader& reader, Walk& walk) {
    std::array<std::uint8_t, kPayloadWindow> payload{};
    std::array<std::uint8_t, kPayloadWindow> skipped{};
    while (!walk.AllSeen()) {
        std::array<std::uint8_t, 2> prefix{};
        if (!reader.ReadExactly(prefix.data(), prefix.size())) {
            return;
        }
        const std::size_t length = static_cast<std::size_t>(prefix[0] << 8 | prefix[1]);
        const std::size_t held = std::min(length, kPayloadWindow);
        if (!reader.ReadExactly(payload.data(), held)) {
            return;
        }
        for (std::size_t rest = length - held; rest > 0;) {
            const std::size_t piece = std::min(rest, kPayloadWindow);
            if (!reader.ReadExactly(skipped.data(), piece)) {
                return;
            }
            rest -= piece;
        }
        walk.Use(payload.data(), length);
    }
}

std::string Number(int value) {
    return std::to_string(value);
}

std::string DayText(CalendarDate date) {
    return Number(date.day) + " " + std::string(MonthName(MonthForm::LowerGenitive, date.month)) +
           " " + Number(date.year) + std::string(text::kYearSuffix);
}

std::string MonthText(CalendarDate date) {
    return std::string(MonthName(MonthForm::LowerNominative, date.month)) + " " +
           Number(date.year) + std::string(text::kYearSuffix);
}

}  // namespace

bool IsValidDate(CalendarDate date) {
    return date.year >= 1 && date.year <= 9999 && date.day >= 1 &&
           date.day <= platform::DaysInMonth(date.year, date.month);
}

CalendarDate AddDays(CalendarDate date, int days) {
    using namespace std::chrono;
    const sys_days start = year_month_day{year{date.year}, month{static_cast<unsigned>(date.month)},
                                          day{static_cast<unsigned>(date.day)}};
    const year_month_day result{start + std::chrono::days{days}};
    return {static_cast<int>(result.year()),
            static_cast<int>(static_cast<unsigned>(result.month())),
            static_cast<int>(static_cast<unsigned>(result.day()))};
}

CalendarDate Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

DataFileFacts InspectDataFile(const std::filesystem::path& path, std::string_view deviceType,
                              CalendarDate today) {
    DataFileFacts facts;
    facts.dataTakeDate = today;
    DataFileReader reader(path);
    if (!reader.IsOpen()) {
        return facts;
    }
    Walk walk{facts, deviceType};
    WalkRecords(reader, walk);
    if (facts.deviceNumber.empty()) {
        facts.deviceNumber = text::kUndefined;
    }
    if (facts.address.empty()) {
        facts.address = text::kUndefined;
    }
    facts.deviceTitle =
        std::string(text::kDevicePrefix) + facts.deviceNumber + ", " + facts.address + ", ";
    // A year byte that is no BCD would give 1999 after adding 2000: no date either.
    const CalendarDate clock{walk.clock.year < 0 ? -1 : walk.clock.year + 2000, walk.clock.month,
                             walk.clock.day};
    if (walk.clockSeen && IsValidDate(clock)) {
        facts.takeDateValid = true;
        facts.dataTakeDate = clock;
    }
    return facts;
}

DataFileFacts InspectDataFile(const std::filesystem::path& path, std::string_view deviceType) {
    return InspectDataFile(path, deviceType, Today());
}

PeriodLabels MakePeriodLabels(const DataFileFacts& facts) {
    PeriodLabels labels;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        labels[i].label = text::kPeriodLabels[i];
    }
    if (!facts.takeDateValid) {
        return labels;
    }
    const CalendarDate take = facts.dataTakeDate;
    labels[5].replacement = Number(take.year) + std::string(text::kYearSuffix);
    labels[6].replacement = Number(take.year - 1) + std::string(text::kYearSuffix);
    labels[2].replacement = MonthText(take);
    labels[3].replacement = MonthText(PreviousMonth(take));
    labels[4].replacement = std::string(text::kReportMonthPrefix) + labels[3].replacement + ")";
    labels[0].replacement = DayText(take);
    labels[1].replacement = DayText(AddDays(take, -1));
    return labels;
}

std::string ApplyPeriodLabels(std::string caption, const PeriodLabels& labels) {
    for (auto pair = labels.rbegin(); pair != labels.rend(); ++pair) {
        if (pair->replacement.empty() || pair->label.empty()) {
            continue;
        }
        // Searching again from the start cannot loop: no replacement holds its own label.
        const bool holdsLabel = pair->replacement.find(pair->label) != std::string::npos;
        for (std::size_t pos = caption.find(pair->label); pos != std::string::npos;) {
            caption.replace(pos, pair->label.size(), pair->replacement);
            pos = caption.find(pair->label, holdsLabel ? pos + pair->replacement.size() : 0);
        }
    }
    if (!caption.empty() && static_cast<std::uint8_t>(caption.front()) == 0xFF) {
        caption.insert(caption.begin(), ' ');
    }
    return caption;
}

CalendarLimits MakeCalendarLimits(CalendarDate dataTakeDate, bool deepArchiveMode) {
    if (deepArchiveMode) {
        return {AddDays(dataTakeDate, -179), dataTakeDate};
    }
    return {PreviousMonth(dataTakeDate),
            {dataTakeDate.year, dataTakeDate.month,
             platform::DaysInMonth(dataTakeDate.year, dataTakeDate.month)}};
}

void AddHourlyDate(std::vector<DateListEntry>& list, CalendarDate date) {
    const std::string entry = ShortDate(date);
    std::erase_if(list, [&entry](const DateListEntry& item) { return item.text == entry; });
    list.push_back({entry, false});
}

void RemoveSelectedDates(std::vector<DateListEntry>& list) {
    std::erase_if(list, [](const DateListEntry& item) { return item.selected; });
}

ReportContext MakeReportContext(const ReportDates& dates, WorkState workState) {
    ReportContext context;
    context.workState = workState;
    context.deepArchiveMode = dates.facts.deepArchiveMode;
    context.dataTakeDate = dates.facts.dataTakeDate;
    context.reportDay = dates.facts.reportDay;
    context.beginDate = dates.beginDate;
    context.endDate = dates.endDate;
    context.deviceVersion = dates.facts.deviceVersion;
    return context;
}

}  // namespace calvix
