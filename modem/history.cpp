#include "modem/history.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "modem/texts.h"
#include "platform/codepage.h"
#include "platform/cp1251_literal.h"
#include "platform/win_path.h"
#include "telephony/line_api.h"

namespace tarvex {

void WriteHistory(ModemSlot& slot, std::string_view text) {
    if (slot.historyFile < 0) {
        return;
    }
    while (!text.empty()) {
        const ssize_t written = ::write(slot.historyFile, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void WriteSeparator(ModemSlot& slot) {
    WriteHistory(slot, std::string(40, '=') + "\r\n");
}

void StampClose(ModemSlot& slot) {
    slot.closedTime = Now();
    slot.closedMs = TickMs();
    slot.closeStamped = true;
}

void WriteConnectionHeader(ModemSlot& slot) {
    WriteSeparator(slot);
    WriteHistory(slot, std::string(W1251("Номер сеанса связи: ")) + Decimal(slot.connectionsBegun) +
                           "\r\n\r\n" + TimeStampLine(slot.openStartTime) +
                           std::string(W1251("Начало открытия канала передачи информации\r\n")));
}

void WriteOpeningError(ModemSlot& slot, std::string_view reason) {
    if (!slot.closeStamped) {
        StampClose(slot);
    }
    if (slot.historyFile < 0) {
        return;
    }
    WriteHistory(slot,
                 TimeStampLine(slot.closedTime) +
                     std::string(W1251("Ошибка при открытии канала передачи информации:\r\n   ")) +
                     std::string(reason));
}

void WriteChannelOpened(ModemSlot& slot) {
    WriteHistory(slot, TimeStampLine(slot.openedTime) +
                           std::string(W1251("Канал передачи информации открыт:\r\n")) +
                           std::string(W1251("   скорость соединения: ")) +
                           Decimal(slot.connectionRate) + std::string(W1251(" бит/с\r\n\r\n")));
}

void WriteChannelClosed(ModemSlot& slot) {
    std::string text = TimeStampLine(slot.closedTime);
    text += W1251("Канал передачи информации закрыт\r\n\r\n");
    text += W1251("Статистика:\r\nВремя использования канала: ");
    if (slot.openedInConnection) {
        text += SecondsText(slot.closedMs - slot.openedMs) + std::string(W1251(" сек\r\n"));
    } else {
        text += "-\r\n";
    }
    text += W1251("Общее время использования канала: ");
    text += HourText(slot.channelSeconds, slot.channelMsRemainder) + "\r\n";
    text += W1251("Количество операций чтения массива данных (успешные/все): ");
    text += PairText(slot.readsInConnection) + "\r\n";
    text += W1251("Количество операций записи массива данных (успешные/все): ");
    text += PairText(slot.writesInConnection) + "\r\n";
    text += W1251("Количество сеансов связи (успешные/все): ");
    text += PairText(slot.connectionsOpened, slot.connectionsBegun) + "\r\n\r\n";
    WriteHistory(slot, text);
}

void WriteAnswerModeRecord(ModemSlot& slot, std::string_view text) {
    WriteSeparator(slot);
    WriteHistory(slot, TimeStampLine(Now()) + std::string(text));
    WriteSeparator(slot);
}

void WriteDataRecord(ModemSlot& slot, std::string_view text) {
    if (slot.historyFile < 0 || !slot.detailedHistory) {
        return;
    }
    const LocalTime now = Now();
    WriteHistory(slot, (CanFormat(now) ? TimeStampLine(now) : std::string()) + std::string(text));
}

std::uint32_t OpenHistoryFile(ModemSlot& slot, const char* path, std::uint32_t detailed) {
    CloseHistoryFile(slot);
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    const std::string resolved = platform::ResolvePath(platform::Cp1251ToUtf8(path)).string();
    // Non-blocking only for the open itself, so that a FIFO without a reader cannot hang it.
    const int fd =
        ::open(resolved.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        return 0;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::lseek(fd, 0, SEEK_END) < 0) {
        ::close(fd);
        return 0;
    }
    slot.historyFile = fd;
    slot.detailedHistory = detailed != 0;
    return 1;
}

std::uint32_t CloseHistoryFile(ModemSlot& slot) {
    if (slot.historyFile < 0) {
        return 1;
    }
    const int fd = slot.historyFile;
    slot.historyFile = -1;
    return ::close(fd) == 0 ? 1 : 0;
}

const char* BuildStatistics(ModemSlot& slot) {
    std::string text = std::string(W1251("Номер сеанса связи: ")) + Decimal(slot.connectionsBegun);
    text += W1251("\r\nНомер телефона: ");
    text += slot.phone;
    if (slot.connectionsBegun > 0) {
        text += W1251("\r\nВремя начала открытия канала: ");
        text += TimeStampLine(slot.openStartTime);
        text += W1251("Время открытия канала: ");
        text += slot.openedInConnection ? TimeStampLine(slot.openedTime) : "-\r\n";
        text += W1251("Время закрытия канала: ");
        text += slot.channelOpen ? "-\r\n" : TimeStampLine(slot.closedTime);
    } else {
        text += W1251(
            "\r\nВремя начала открытия канала: -\r\nВремя открытия канала: -\r\n"
            "Время закрытия канала: -\r\n");
    }
    text += W1251("Скорость соединения: ");
    if (slot.openedInConnection) {
        text += Decimal(slot.connectionRate) + std::string(W1251(" бит/с\r\n"));
    } else {
        text += "-\r\n";
    }
    text += slot.channelOpen ? W1251("Состояние канала передачи информации: открыт\r\n")
                             : W1251("Состояние канала передачи информации: закрыт\r\n");
    text += W1251("Время использования канала: ");
    if (slot.openedInConnection) {
        const std::uint32_t end = slot.channelOpen ? TickMs() : slot.closedMs;
        text += SecondsText(end - slot.openedMs) + std::string(W1251(" сек\r\n"));
    } else {
        text += "-\r\n";
    }
    text += W1251("Количество операций чтения массива данных (успешные/все): ");
    text += PairText(slot.readsInConnection) + "\r\n";
    text += W1251("Количество операций записи массива данных (успешные/все): ");
    text += PairText(slot.writesInConnection);
    slot.statistics = std::move(text);
    return slot.statistics.c_str();
}

const char* BuildStatisticsAll(ModemSlot& slot) {
    std::uint32_t seconds = slot.channelSeconds;
    std::uint32_t milliseconds = slot.channelMsRemainder;
    if (slot.channelOpen) {
        const std::uint32_t running = TickMs() - slot.openedMs + milliseconds;
        seconds += running / 1000;
        milliseconds = running % 1000;
    }
    const std::uint32_t n = slot.connectionsOpened;
    const std::uint32_t averageSeconds = n != 0 ? seconds / n : 0;
    const std::uint32_t averageMs = n != 0 ? (seconds % n * 1000 + milliseconds) / n : 0;

    std::string text = std::string(W1251("Количество сеансов связи (успешные/все): "));
    text += PairText(slot.connectionsOpened, slot.connectionsBegun) + "\r\n";
    text += slot.channelOpen ? W1251("Состояние канала передачи информации: открыт\r\n")
                             : W1251("Состояние канала передачи информации: закрыт\r\n");
    text += W1251("Общее время использования канала передачи информации: ");
    text += HourText(seconds, milliseconds) + "\r\n";
    text += W1251("Среднее время использования канала передачи информации: ");
    text += HourText(averageSeconds, averageMs) + "\r\n";
    text += W1251("Количество операций чтения массива данных (успешные/все): ");
    text += PairText(slot.readsSinceLoad) + "\r\n";
    text += W1251("Количество операций записи массива данных (успешные/все): ");
    text += PairText(slot.writesSinceLoad);
    slot.statistics = std::move(text);
    return slot.statistics.c_str();
}

const char* NoStatisticsText() {
    return W1251("Ошибка. Нет статистики для запрашиваемого модема").data();
}

std::string_view TapiErrorText(std::int32_t error) {
    switch (error) {
        case telephony::kErrAllocated:
            return "LINEERR_ALLOCATED\r\n";
        case telephony::kErrNoMem:
            return W1251("недостаточно памяти\r\n");
        case telephony::kErrResourceUnavail:
            return W1251("модем недоступен\r\n");
        case telephony::kErrReinit:
            return W1251("реинициализация TAPI\r\n");
        default:
            return W1251("причина неизвестна\r\n");
    }
}

std::string_view OpenFaultText(std::int32_t error, telephony::OpenFault fault) {
    using telephony::OpenFault;
    switch (fault) {
        case OpenFault::kPortMissing:
            return W1251("COM-порт модема не найден\r\n\r\n");
        case OpenFault::kPortDenied:
            return W1251("нет прав доступа к COM-порту модема\r\n\r\n");
        case OpenFault::kPortBusy:
            return TapiErrorText(telephony::kErrAllocated);
        case OpenFault::kPortSettings:
            return W1251("ошибка при настройке COM-порта модема\r\n\r\n");
        case OpenFault::kNoAnswer:
            return TapiErrorText(telephony::kErrResourceUnavail);
        case OpenFault::kInitRefused:
            return W1251("модем отклонил строку инициализации\r\n\r\n");
        case OpenFault::kNone:
            break;
    }
    return TapiErrorText(error);
}

std::string_view NoModemsText() {
    return W1251("модемы не настроены (переменная TARVEX_MODEMS)\r\n\r\n");
}

std::string_view BadNumberText() {
    return W1251("номер телефона содержит недопустимые символы\r\n\r\n");
}

std::string_view DisconnectReasonText(std::uint32_t disconnectMode) {
    switch (disconnectMode) {
        case telephony::kDisconnectNormal:
            return W1251("соединение разорвано (нормально)\r\n\r\n");
        case telephony::kDisconnectReject:
            return W1251("вызываемый абонент отклонил запрос\r\n\r\n");
        case telephony::kDisconnectBusy:
            return W1251("принят сигнал занятости от вызываемого абонента\r\n\r\n");
        case telephony::kDisconnectNoAnswer:
            return W1251("нет ответа от вызываемого абонента\r\n\r\n");
        case telephony::kDisconnectUnreachable:
            return W1251("вызываемый абонент не мог быть достигнут\r\n\r\n");
        case telephony::kDisconnectNoDialTone:
            return W1251("нет сигнала готовности станции\r\n\r\n");
        case telephony::kDisconnectOutOfOrder:
            return W1251("модем не в порядке\r\n\r\n");
        case telephony::kDisconnectTempFailure:
            return W1251("модем отклонил запрос\r\n\r\n");
        case telephony::kDisconnectCancelled:
            return W1251("вызов был отменен\r\n\r\n");
        default:
            return W1251("причина неизвестна\r\n\r\n");
    }
}

}  // namespace tarvex
