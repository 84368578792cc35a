#include "modem/data_exchange.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "modem/call_control.h"
#include "modem/history.h"
#include "modem/texts.h"
#include "platform/cp1251_literal.h"
#include "telephony/line_api.h"

namespace tarvex {
namespace {

constexpr std::uint32_t kMaxLength = 256;
constexpr std::uint32_t kMaxAddress = 65535;

enum class Kind { kRead, kWrite };

std::string_view ClosedText(Kind kind) {
    return kind == Kind::kRead ? W1251(
                                     "Ошибка при вызове команды чтения массива данных:\r\n"
                                     "   канал передачи информации закрыт\r\n\r\n")
                               : W1251(
                                     "Ошибка при вызове команды записи массива данных:\r\n"
                                     "   канал передачи информации закрыт\r\n\r\n");
}

std::string_view InvalidText(Kind kind) {
    return kind == Kind::kRead ? W1251(
                                     "Ошибка при вызове команды чтения массива данных:\r\n"
                                     "   заданы недопустимые параметры\r\n\r\n")
                               : W1251(
                                     "Ошибка при вызове команды записи массива данных:\r\n"
                                     "   заданы недопустимые параметры\r\n\r\n");
}

std::string_view DoneText(Kind kind) {
    return kind == Kind::kRead ? W1251("Массив данных считан\r\n\r\n")
                               : W1251("Массив данных записан\r\n\r\n");
}

std::string FramedRequestText(Kind kind, std::uint32_t subscriber, std::uint32_t address,
                              std::uint32_t length) {
    std::string text(kind == Kind::kRead ? W1251("Чтение массива данных:\r\n")
                                         : W1251("Запись массива данных:\r\n"));
    text += std::string(W1251("   абонент: ")) + Decimal(subscriber) + "\r\n";
    text += std::string(W1251("   адрес:   ")) + Decimal(address) + "\r\n";
    text += std::string(W1251("   длина:   ")) + Decimal(length) + "\r\n";
    return text;
}

// What every data operation begins with: the data handle to go on with, or nothing when the
// operation ends here with its result 0.
std::optional<std::uint32_t> Begin(Library& library, ModemSlot& slot, Kind kind, bool valid) {
    Lock lock(library.lock);
    if (slot.callEnded) {
        lock.unlock();
        Disconnect(library, slot, false);
        return std::nullopt;
    }
    if (!slot.channelOpen) {
        WriteDataRecord(slot, ClosedText(kind));
        return std::nullopt;
    }
    OperationCount& connection =
        kind == Kind::kRead ? slot.readsInConnection : slot.writesInConnection;
    OperationCount& sinceLoad = kind == Kind::kRead ? slot.readsSinceLoad : slot.writesSinceLoad;
    ++connection.all;
    ++sinceLoad.all;
    if (!valid) {
        WriteDataRecord(slot, InvalidText(kind));
        return std::nullopt;
    }
    return slot.dataHandle;
}

void Succeeded(Library& library, ModemSlot& slot, Kind kind) {
    Lock lock(library.lock);
    OperationCount& connection =
        kind == Kind::kRead ? slot.readsInConnection : slot.writesInConnection;
    OperationCount& sinceLoad = kind == Kind::kRead ? slot.readsSinceLoad : slot.writesSinceLoad;
    ++connection.ok;
    ++sinceLoad.ok;
    WriteDataRecord(slot, DoneText(kind));
}

void Record(Library& library, ModemSlot& slot, std::string_view text) {
    Lock lock(library.lock);
    WriteDataRecord(slot, text);
}

std::chrono::milliseconds TransferLimit() {
    return std::chrono::milliseconds(CurrentTimings().transferLimitMs);
}

// One transfer on the data handle, bounded by the transfer limit; a cancelled or failed one
// moved nothing.
std::uint32_t ReadBytes(std::uint32_t handle, std::uint8_t* buffer, std::uint32_t count) {
    if (handle == 0) {
        return 0;
    }
    const telephony::CommTransfer result =
        telephony::CommRead(handle, buffer, count, TransferLimit());
    return result.ok ? static_cast<std::uint32_t>(result.count) : 0;
}

std::uint32_t WriteBytes(std::uint32_t handle, const std::uint8_t* buffer, std::uint32_t count) {
    if (handle == 0) {
        return 0;
    }
    const telephony::CommTransfer result =
        telephony::CommWrite(handle, buffer, count, TransferLimit());
    return result.ok ? static_cast<std::uint32_t>(result.count) : 0;
}

std::uint8_t Sum(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    }
    return sum;
}

}  // namespace

std::uint32_t Read(Library& library, ModemSlot& slot, std::uint32_t length, std::uint8_t* buffer) {
    const bool valid = length >= 1 && length <= kMaxLength && buffer != nullptr;
    const std::optional<std::uint32_t> begun = Begin(library, slot, Kind::kRead, valid);
    if (!begun) {
        return 0;
    }
    const std::uint32_t handle = *begun;
    Record(library, slot,
           std::string(W1251("Чтение массива данных:\r\n   длина:   ")) + Decimal(length) + "\r\n");
    std::vector<std::uint8_t> received(length);
    const std::uint32_t got = ReadBytes(handle, received.data(), length);
    std::copy_n(received.begin(), got, buffer);
    if (got == length) {
        Succeeded(library, slot, Kind::kRead);
        return length;
    }
    Record(library, slot,
           std::string(W1251("Ошибка при чтении массива данных:\r\n   считано ")) + Decimal(got) +
               std::string(W1251(" из ")) + Decimal(length) + "\r\n\r\n");
    return got;
}

std::uint32_t Write(Library& library, ModemSlot& slot, std::uint32_t length,
                    const std::uint8_t* buffer) {
    const bool valid = length >= 1 && length <= kMaxLength && buffer != nullptr;
    const std::optional<std::uint32_t> begun = Begin(library, slot, Kind::kWrite, valid);
    if (!begun) {
        return 0;
    }
    const std::uint32_t handle = *begun;
    Record(library, slot,
           std::string(W1251("Запись массива данных:\r\n   длина:   ")) + Decimal(length) + "\r\n");
    const std::uint32_t put = WriteBytes(handle, buffer, length);
    if (put == length) {
        Succeeded(library, slot, Kind::kWrite);
        return length;
    }
    Record(library, slot,
           std::string(W1251("Ошибка при записи массива данных:\r\n   записано ")) + Decimal(put) +
               std::string(W1251(" из ")) + Decimal(length) + "\r\n\r\n");
    return put;
}

std::uint32_t ReadHC(Library& library, ModemSlot& slot, std::uint32_t subscriber,
                     std::uint32_t address, std::uint32_t length, std::uint8_t* buffer) {
    const bool valid = length >= 1 && length <= kMaxLength && subscriber >= 1 &&
                       subscriber <= 255 && address <= kMaxAddress && buffer != nullptr;
    const std::optional<std::uint32_t> begun = Begin(library, slot, Kind::kRead, valid);
    if (!begun) {
        return 0;
    }
    const std::uint32_t handle = *begun;
    Record(library, slot, FramedRequestText(Kind::kRead, subscriber, address, length));
    std::uint8_t request[7] = {static_cast<std::uint8_t>(subscriber),
                               0x08,
                               0x02,
                               static_cast<std::uint8_t>(address >> 8),
                               static_cast<std::uint8_t>(address & 0xFF),
                               static_cast<std::uint8_t>(length - 1),
                               0};
    request[6] = Sum(request, 6);
    std::vector<std::uint8_t> answer(length + 4);
    const bool ok = WriteBytes(handle, request, 7) == 7 &&
                    ReadBytes(handle, answer.data(), length + 4) == length + 4 && answer[0] == 0 &&
                    answer[1] == 0 && answer[2] == length - 1 &&
                    answer[length + 3] == Sum(answer.data(), length + 3);
    if (!ok) {
        Record(library, slot, W1251("Ошибка при чтении массива данных\r\n\r\n"));
        return 0;
    }
    std::copy_n(answer.begin() + 3, length, buffer);
    Succeeded(library, slot, Kind::kRead);
    return length;
}

std::uint32_t WriteHC(Library& library, ModemSlot& slot, std::uint32_t subscriber,
                      std::uint32_t address, std::uint32_t length, const std::uint8_t* buffer) {
    const bool valid = length >= 1 && length <= kMaxLength && subscriber >= 1 &&
                       subscriber <= 254 && address <= kMaxAddress && buffer != nullptr;
    const std::optional<std::uint32_t> begun = Begin(library, slot, Kind::kWrite, valid);
    if (!begun) {
        return 0;
    }
    const std::uint32_t handle = *begun;
    Record(library, slot, FramedRequestText(Kind::kWrite, subscriber, address, length));
    std::vector<std::uint8_t> request(length + 6);
    request[0] = static_cast<std::uint8_t>(subscriber);
    request[1] = 0x09;
    request[2] = static_cast<std::uint8_t>(length + 1);
    request[3] = static_cast<std::uint8_t>(address >> 8);
    request[4] = static_cast<std::uint8_t>(address & 0xFF);
    std::copy_n(buffer, length, request.begin() + 5);
    request[length + 5] = Sum(request.data(), length + 5);
    std::uint8_t answer[3] = {};
    const bool ok = WriteBytes(handle, request.data(), length + 6) == length + 6 &&
                    ReadBytes(handle, answer, 3) == 3 && answer[0] == 0x00 && answer[1] == 0x50 &&
                    answer[2] == 0x50;
    if (!ok) {
        Record(library, slot, W1251("Ошибка при записи массива данных\r\n\r\n"));
        return 0;
    }
    Succeeded(library, slot, Kind::kWrite);
    return length;
}

}  // namespace tarvex
