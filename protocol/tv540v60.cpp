#include "protocol/tv540v60.h"

#include <cstring>

#include "platform/cp1251_literal.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/device_dates.h"
#include "protocol/device_number.h"
#include "protocol/protocol_error.h"

namespace protocol {
namespace {

constexpr std::uint16_t kRoot = 302;
constexpr unsigned kDayAnswer = 55;
constexpr int kDays = 62;
constexpr int kMonths = 24;
constexpr int kChannels = 11;

// Channel order in the file: the answer offset of each value and the tag's second and third
// bytes (the first is 0B for days, 0C for months).
struct Channel {
    int offset;
    std::uint8_t tag1;
    std::uint8_t tag2;
    bool seconds;  // a time counter, stored in hours
};
constexpr Channel kChannelOrder[kChannels] = {
    {27, 0x01, 0x21, false}, {31, 0x02, 0x21, false}, {35, 0x01, 0x23, false},
    {39, 0x02, 0x23, false}, {11, 0x01, 0x1F, false}, {15, 0x02, 0x1F, false},
    {19, 0x01, 0x20, false}, {23, 0x02, 0x20, false}, {7, 0x00, 0x1F, true},
    {43, 0x01, 0x22, true},  {47, 0x02, 0x22, true},
};

std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Eleven channel records, each holding one 8-byte number per day (or month) in reading order.
class ChannelRecords {
  public:
    explicit ChannelRecords(int slots) : slots_(slots), values_(kChannels * slots * 8, 0) {}

    void Store(int slot, const std::uint8_t* answer) {
        for (int c = 0; c < kChannels; ++c) {
            const std::uint8_t* source = answer + kChannelOrder[c].offset;
            long double value = 0;
            if (kChannelOrder[c].seconds) {
                value = static_cast<long double>(LittleEndian32(source)) / 3600.0L;
            } else {
                float quantity = 0;
                std::memcpy(&quantity, source, 4);
                value = quantity;
            }
            std::uint8_t* target = &values_[(c * slots_ + slot) * 8];
            ToDeviceNumber8(value, target);
        }
    }

    void Write(DataFile& file, std::uint8_t kind) const {
        for (int c = 0; c < kChannels; ++c) {
            std::vector<std::uint8_t> record(kRecordHeader + slots_ * 8);
            const std::uint8_t tag[5] = {kind, kChannelOrder[c].tag1, kChannelOrder[c].tag2, 0x29,
                                         0x00};
            std::memcpy(record.data() + 3, tag, 5);
            std::memcpy(record.data() + kRecordHeader, &values_[c * slots_ * 8], slots_ * 8);
            AppendRecord(file, slots_ * 8, record.data());
        }
    }

  private:
    int slots_;
    std::vector<std::uint8_t> values_;
};

[[noreturn]] void RaiseNoAnswer() {
    throw ProtocolError(W1251(
        "Ошибка связи.\r\nТепловычислитель не смог сформировать ответ\r\nв положенное время."));
}

[[noreturn]] void RaiseWrongAnswer() {
    throw ProtocolError(W1251("Ошибка связи.\r\nНеверный ответ от тепловычислителя."));
}

// Asks one daily (34) or monthly (35) record; false for "no record" (status 2).
bool AskRecord(CTV540& link, std::uint8_t command, const DeviceDate& date,
               std::uint8_t expectedType, std::uint8_t* answer) {
    const std::uint8_t request[5] = {command, static_cast<std::uint8_t>(date.year),
                                     static_cast<std::uint8_t>(date.month),
                                     static_cast<std::uint8_t>(date.day), 0};
    std::memset(answer, 0, kDayAnswer);
    if (!link.ExecuteCommand(5, kDayAnswer, request, answer, 0)) {
        RaiseNoAnswer();
    }
    if (answer[0] == 2) {
        return false;
    }
    if (answer[0] != 1 || answer[1] != expectedType) {
        RaiseWrongAnswer();
    }
    return true;
}

}  // namespace

void CTV540v60::WriteParameters(DataFile& file, ArchiveProgress& progress) {
    const std::string_view text = W1251("Считываются параметры тепловычислителя");
    // Field 31 replaces 30 where a group has it.
    auto parameterField = [this](std::uint8_t group, std::uint8_t subgroup) -> std::uint8_t {
        FieldLocation location;
        return FindDataField(kRoot, group, subgroup, 31, location) ? 31 : 30;
    };
    progress.ReportOrStop(text, 1, 6);
    StoreDataField(file, kRoot, 101, 0, 57, {0xE6, 0x00, 0x39, 0x40, 0x00}, false, false);
    progress.ReportOrStop(text, 2, 6);
    StoreDataField(file, kRoot, 101, 0, 58, {0xE6, 0x00, 0x3A, 0x40, 0x00}, false, true);
    progress.ReportOrStop(text, 3, 6);
    StoreDataField(file, kRoot, 101, 0, parameterField(101, 0), {0xE6, 0x00, 0x3D, 0x20, 0x00},
                   false, false);
    progress.ReportOrStop(text, 4, 6);
    StoreDataField(file, kRoot, 230, 1, parameterField(230, 1), {0xE6, 0x01, 0x3D, 0x26, 0x00},
                   true, false);
    progress.ReportOrStop(text, 5, 6);
    StoreDataField(file, kRoot, 230, 2, parameterField(230, 2), {0xE6, 0x02, 0x3D, 0x26, 0x00},
                   true, false);
    progress.ReportOrStop(text, 6, 6);
}

void CTV540v60::ReadDailyArchive(DataFile& file, ArchiveProgress& progress,
                                 const DeviceClock& clock) {
    // Days 1..31 of the previous month, then days 1..31 of the current one.
    const DeviceDate current{1, clock.month, clock.year};
    const DeviceDate previous = MonthBefore(current);
    ChannelRecords channels(kDays);
    std::uint8_t answer[kDayAnswer];
    for (int index = 0; index < kDays; ++index) {
        progress.ReportOrStop(W1251("Считываются суточные архивы"), index, kDays);
        const DeviceDate month = index < 31 ? previous : current;
        const DeviceDate date{index % 31 + 1, month.month, month.year};
        if (!IsValidDate(date.day, date.month, date.year)) {
            continue;  // 30 February: zeros, no exchange
        }
        if (AskRecord(*this, 34, date, 2, answer)) {
            channels.Store(index, answer);
        }
    }
    channels.Write(file, 0x0B);
}

void CTV540v60::ReadMonthlyArchive(DataFile& file, ArchiveProgress& progress,
                                   const DeviceClock& clock) {
    // January of the previous year to December of this one.
    DeviceDate month{1, 1, (clock.year + 255) % 256};
    ChannelRecords channels(kMonths);
    std::uint8_t answer[kDayAnswer];
    for (int index = 0; index < kMonths; ++index) {
        progress.ReportOrStop(W1251("Считываются месячные архивы"), index, kMonths);
        if (AskRecord(*this, 35, month, 3, answer)) {
            channels.Store(index, answer);
        }
        month = MonthAfter(month);
    }
    channels.Write(file, 0x0C);
}

void CTV540v60::ReadVersion60(DataFile& file, bool readHourly, ArchiveProgress& progress,
                              const platform::IniFile& settings, bool onlyPeriod) {
    SelectTextEncoding(settings, 60, W1251("Чтение данных из TV540"));
    WriteStartRecord(file);
    const DeviceClock clock = ReadClockOrRaise(true);
    std::uint8_t record[kRecordHeader + 6] = {0, 0, 0, 0xE6, 0x00, 0x36, 0x11, 0x00};
    std::memcpy(record + kRecordHeader, clock.bcd.data(), 6);
    AppendRecord(file, 6, record);
    WriteParameters(file, progress);
    ReadDailyArchive(file, progress, clock);
    if (!onlyPeriod) {
        ReadMonthlyArchive(file, progress, clock);
        if (readHourly) {
            try {
                ReadHourArchive(file, progress);
            } catch (const ProtocolError&) {
                // The hours are a bonus; the reading stands without them.
            }
        }
    }
    const auto filler = FillerRecord();
    if (!file.Write(filler)) {
        throw ProtocolError(W1251("Ошибка при записи в файл данных."));
    }
    WriteStopRecord(file);
}

}  // namespace protocol
