// Fields stored into the data file, the text encoding of a device type, the device clock.
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/device_dates.h"
#include "protocol/device_number.h"
#include "protocol/protocol_error.h"
#include "protocol/utv540.h"

namespace protocol {
namespace {

constexpr unsigned kMaxFieldSize = 256;

std::string FieldName(std::uint16_t root, std::uint8_t group, std::uint8_t subgroup,
                      std::uint8_t field) {
    return std::to_string(root) + "/" + std::to_string(group) + "/" + std::to_string(subgroup) +
           "/" + std::to_string(field);
}

}  // namespace

void ArchiveProgress::ReportOrStop(std::string_view text, int position, int maximum) {
    if (Report(text, position, maximum)) {
        throw ProtocolError(W1251("Чтение архивов из тепловычислителя прервано."));
    }
}

bool DeviceClock::ValidDate() const {
    return IsValidDate(day, month, year);
}

void CTV540::StoreDataField(DataFile& file, std::uint16_t root, std::uint8_t group,
                            std::uint8_t subgroup, std::uint8_t field, const RecordTag& tag,
                            bool convertNumbers, bool convertText) {
    FieldLocation location;
    if (!FindDataField(root, group, subgroup, field, location)) {
        throw ProtocolError(std::string(W1251("Поле данных ")) +
                            FieldName(root, group, subgroup, field) +
                            std::string(W1251(" не найдено.")));
    }
    if (location.size > kMaxFieldSize) {
        throw ProtocolError(std::string(W1251("Размер поля данных ")) +
                            FieldName(root, group, subgroup, field) + " = " +
                            std::to_string(location.size) +
                            std::string(W1251("\r\n(больше максимального = 256)")));
    }
    std::uint8_t record[kRecordHeader + kMaxFieldSize] = {};
    std::uint8_t* data = record + kRecordHeader;
    if (!ReadMemory(location.address, location.size, data)) {
        throw ProtocolError(W1251("Ошибка связи."));
    }
    if (convertNumbers) {
        for (unsigned at = 0; at + 4 <= location.size; at += 4) {
            float value = 0;
            std::memcpy(&value, data + at, 4);  // IEEE single, low byte first
            ToDeviceNumber4(value, data + at);
        }
    }
    if (convertText && textIsWindows) {
        const std::string oem = platform::Cp1251ToCp866(
            std::string_view(reinterpret_cast<const char*>(data), location.size));
        std::memcpy(data, oem.data(), location.size);
    }
    std::memcpy(record + 3, tag.data(), tag.size());
    AppendRecord(file, location.size, record);
}

void CTV540::SelectTextEncoding(const platform::IniFile& settings, int version,
                                std::string_view section) {
    const std::string type = settings.ReadString(section, W1251("тип"), "");
    std::string deviceSection = type + std::string(W1251(" версия ")) + std::to_string(version);
    if (!settings.SectionExists(deviceSection)) {
        deviceSection = type;
    }
    textIsWindows = settings.ReadString(deviceSection, W1251("кодировка текста"), "") == "windows";
}

int CTV540::ReadClock(DeviceClock& clock) {
    const std::uint8_t command[1] = {4};
    std::uint8_t answer[7] = {};
    if (!ExecuteCommand(1, 7, command, answer, 0)) {
        return -1;
    }
    if (answer[0] == 1) {
        std::memcpy(clock.bcd.data(), answer + 1, 6);
        clock.second = FromBcd(answer[1]);
        clock.minute = FromBcd(answer[2]);
        clock.hour = FromBcd(answer[3]);
        clock.day = FromBcd(answer[4]);
        clock.month = FromBcd(answer[5]);
        clock.year = FromBcd(answer[6]);
    }
    return answer[0];
}

DeviceClock CTV540::ReadClockOrRaise(bool version60) {
    DeviceClock clock;
    const int status = ReadClock(clock);
    if (status < 0) {
        throw ProtocolError(W1251(
            "Ошибка связи.\r\nТепловычислитель не смог сформировать ответ\r\nв положенное время."));
    }
    if (status == 2 && version60) {
        throw ProtocolError(
            W1251("Ошибка связи.\r\nОшибка при чтении текущего времени тепловычислителя."));
    }
    if (status != 1) {
        throw ProtocolError(W1251("Ошибка связи.\r\nНеверный ответ от тепловычислителя."));
    }
    if (!clock.ValidDate()) {
        throw ProtocolError(W1251(
            "Ошибка связи.\r\nИз тепловычислителя считаны неправильные\r\nтекущие дата и время."));
    }
    return clock;
}

}  // namespace protocol
