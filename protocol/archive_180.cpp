// The 180-day daily archive of a version-53 device, into its own data file.
#include <cstring>

#include "platform/cp1251_literal.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/device_dates.h"
#include "protocol/protocol_error.h"
#include "protocol/utv540.h"

namespace protocol {
namespace {

constexpr std::uint16_t kRoot = 302;
constexpr int kDays = 180;
constexpr unsigned kDayAnswer = 97;

[[noreturn]] void RaiseNoAnswer() {
    throw ProtocolError(W1251(
        "Ошибка связи.\r\nТепловычислитель не смог сформировать ответ\r\nв положенное время."));
}

[[noreturn]] void RaiseWrongAnswer() {
    throw ProtocolError(W1251("Ошибка связи.\r\nНеверный ответ от тепловычислителя."));
}

}  // namespace

bool CTV540::Read180DayArchive(DataFile& file, ArchiveProgress& progress) {
    WriteStartRecord(file);
    const DeviceClock clock = ReadClockOrRaise(false);
    std::uint8_t clockRecord[kRecordHeader + 6] = {0, 0, 0, 0xE6, 0x00, 0x36, 0x11, 0x00};
    std::memcpy(clockRecord + kRecordHeader, clock.bcd.data(), 6);
    AppendRecord(file, 6, clockRecord);

    const std::string_view parameters = W1251("Считываются параметры тепловычислителя");
    if (progress.Report(parameters, 1, 4)) {
        return false;
    }
    const std::uint8_t identity[1] = {53};
    std::uint8_t answer[kDayAnswer] = {};
    if (!ExecuteCommand(1, 9, identity, answer, 0)) {
        RaiseNoAnswer();
    }
    if (answer[0] != 1) {
        RaiseWrongAnswer();
    }
    std::uint8_t identityRecord[kRecordHeader + 8] = {0, 0, 0, 0xE6, 0x00, 0x39, 0x40, 0x00};
    std::memcpy(identityRecord + kRecordHeader, answer + 1, 8);
    AppendRecord(file, 8, identityRecord);
    if (progress.Report(parameters, 2, 4)) {
        return false;
    }
    StoreDataField(file, kRoot, 101, 0, 30, {0xE6, 0x00, 0x3D, 0x20, 0x00}, false, false);
    if (progress.Report(parameters, 3, 4)) {
        return false;
    }
    StoreDataField(file, kRoot, 101, 0, 58, {0xE6, 0x00, 0x3A, 0x40, 0x00}, false, false);
    if (progress.Report(parameters, 4, 4)) {
        return false;
    }

    DeviceDate date{clock.day, clock.month, clock.year};
    for (int i = 0; i < kDays; ++i) {
        if (progress.Report(W1251("Считывается архив за 180 суток "), i, kDays)) {
            WriteStopRecord(file);
            return true;
        }
        const std::uint8_t request[5] = {34, static_cast<std::uint8_t>(date.year),
                                         static_cast<std::uint8_t>(date.month),
                                         static_cast<std::uint8_t>(date.day), 0};
        date = DayBefore(date);
        std::memset(answer, 0, sizeof answer);
        if (!ExecuteCommand(5, kDayAnswer, request, answer, 0)) {
            RaiseNoAnswer();
        }
        if (answer[0] == 2) {
            continue;
        }
        if (answer[0] != 1) {
            RaiseWrongAnswer();
        }
        std::uint8_t record[kRecordHeader + kDayAnswer - 1] = {0,    0,    0,    0x0E,
                                                               0x00, 0x24, 0x00, 0x00};
        std::memcpy(record + kRecordHeader, answer + 1, kDayAnswer - 1);
        AppendRecord(file, kDayAnswer - 1, record);
    }
    WriteStopRecord(file);
    return true;
}

}  // namespace protocol
