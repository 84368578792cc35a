#include "protocol/utv540.h"

#include "platform/cp1251_literal.h"
#include "platform/sleep.h"
#include "protocol/frames.h"
#include "protocol/protocol_error.h"

#include <cerrno>

namespace protocol {

CTV540Base::CTV540Base(std::uint8_t abonentByte, int attemptCount, std::uint32_t pauseMs)
    : abonent(abonentByte), attempts(attemptCount), pause(pauseMs) {}

bool CTV540Base::ExecuteCommand(unsigned commandLength, unsigned answerLength,
                                const std::uint8_t* command, std::uint8_t* answer,
                                int attemptCount) {
    if (attemptCount == 0) {
        attemptCount = attempts;
    }
    const std::uint8_t clear = 0x00;
    if (!WriteMemory(kAnswerArea, 1, &clear, 0)) {
        return false;
    }
    platform::SleepMs(waits_.commandPauseMs.value_or(CommandPause()));
    if (!WriteMemory(kCommandArea, commandLength, command, attemptCount)) {
        return false;
    }
    platform::SleepMs(waits_.commandPauseMs.value_or(CommandPause()));
    for (int poll = 0; poll < 5; ++poll) {
        if (ReadMemory(kAnswerArea, answerLength, answer) && answer[0] != 0) {
            return true;
        }
        platform::SleepMs(waits_.mailboxPollMs);
    }
    return false;
}

CTV540::CTV540(std::uint8_t abonentByte, FrameLink& link, int attemptCount, std::uint32_t pauseMs)
    : CTV540Base(abonentByte, attemptCount, pauseMs), link_(link) {}

bool CTV540::ReadOnce(std::uint16_t address, unsigned count, std::uint8_t* destination) {
    return link_.ReadExchange(abonent, address, count, destination);
}

bool CTV540::WriteOnce(std::uint16_t address, unsigned count, const std::uint8_t* source) {
    return link_.WriteExchange(abonent, address, std::span(source, count));
}

bool CTV540::ReadMemory(std::uint16_t address, unsigned count, std::uint8_t* destination) {
    if (count < 1 || count > kMaxReadCount || destination == nullptr) {
        return false;
    }
    return WithRetries(attempts, [&] { return ReadOnce(address, count, destination); });
}

bool CTV540::WriteMemory(std::uint16_t address, unsigned count, const std::uint8_t* source,
                         int attemptCount) {
    if (count < 1 || count > kMaxWriteCount || source == nullptr) {
        return false;
    }
    if (attemptCount == 0) {
        attemptCount = attempts;
    }
    return WithRetries(attemptCount, [&] { return WriteOnce(address, count, source); });
}

bool CTV540::WithRetries(int attemptCount, const std::function<bool()>& exchange) {
    for (int attempt = 0; attempt < attemptCount; ++attempt) {
        if (exchange()) {
            NotifyExchange(true);
            return true;
        }
        NotifyExchange(false);
        RecoverLink();
        if (link_.WaitsBetweenAttempts()) {
            platform::SleepMs(pause);
        }
    }
    return false;
}

bool CTV540::ProbeRead(std::uint16_t address, unsigned count) {
    std::uint8_t scratch[16];
    if (count < 1 || count > sizeof(scratch)) {
        return false;
    }
    if (link_.WaitsBetweenAttempts()) {
        platform::SleepMs(pause);
    }
    return ReadOnce(address, count, scratch);
}

void CTV540::DrainInput() {
    while (link_.DrainByte(waits_.drainGapMs)) {
    }
}

void CTV540::RecoverLink() {
    if (!link_.CanRecover()) {
        return;
    }
    for (int pass = 0; pass < 3; ++pass) {
        bool inStep = false;
        for (int attempt = 0; attempt < 5 && !inStep; ++attempt) {
            if (ProbeRead(0x1020, 2)) {
                inStep = true;
                break;
            }
            NotifyExchange(false);
            platform::SleepMs(waits_.recoveryWaitMs);
            DrainInput();
            if (ProbeRead(0x1030, 3)) {
                inStep = true;
                break;
            }
            NotifyExchange(false);
            platform::SleepMs(waits_.recoveryWaitMs);
            DrainInput();
        }
        if (!inStep) {
            break;
        }
        if (ProbeRead(0x1040, 4)) {
            NotifyExchange(true);
            return;
        }
    }
    if (connected_) {
        throw ProtocolError(W1251("Ошибка связи."));
    }
    throw ProtocolError(W1251("Соединение не установлено."));
}

void CTV540::NotifyExchange(bool ok) {
    if (ok) {
        connected_ = true;
    }
    if (exchangeCallback && !exchangeCallback(ok)) {
        throw ProtocolError(W1251("Чтение данных из тепловычислителя прервано."));
    }
}

std::uint32_t BaseTimeoutForBaud(std::uint32_t baudRate) {
    switch (baudRate) {
        case 1200:
            return 600;
        case 2400:
            return 500;
        case 4800:
            return 400;
        case 19200:
            return 100;
        case 38400:
        case 57600:
        case 115200:
            return 50;
        default:
            return 200;
    }
}

platform::CommTimeouts TimeoutsFromBase(long t) {
    // The time-outs are DWORDs: a negative T wraps as it would there.
    platform::CommTimeouts timeouts;
    timeouts.readIntervalTimeout = static_cast<std::uint32_t>(t);
    timeouts.readTotalTimeoutMultiplier = static_cast<std::uint32_t>(t / 10);
    timeouts.readTotalTimeoutConstant = static_cast<std::uint32_t>(t);
    timeouts.writeTotalTimeoutMultiplier = static_cast<std::uint32_t>(t / 10);
    timeouts.writeTotalTimeoutConstant = static_cast<std::uint32_t>(t);
    return timeouts;
}

void ApplyLineSettings(platform::DeviceControl& dcb, std::uint32_t baudRate) {
    dcb.baudRate = baudRate;
    dcb.fBinary = true;
    dcb.fParity = true;
    dcb.fOutxCtsFlow = false;
    dcb.fOutxDsrFlow = false;
    dcb.fDtrControl = platform::kLineEnable;
    dcb.fOutX = false;
    dcb.fInX = false;
    dcb.fNull = false;
    dcb.fRtsControl = platform::kLineEnable;
    dcb.xonLim = 0;
    dcb.xoffLim = 0;
    dcb.byteSize = 8;
    dcb.parity = platform::kMarkParity;
    dcb.stopBits = platform::kOneStopBit;
    dcb.xonChar = 0;
    dcb.xoffChar = 0;
}

std::string FixedLinePortText(std::string_view portName) {
    std::string text(W1251("\r\nПорт "));
    text += portName;
    if (const std::optional<int> number = platform::ComPortNumber(portName)) {
        text += " (" + platform::ComPortDevicePath(*number) + ")";
    }
    text += W1251(
        " передает байты без смены четности, а тепловычислителю она нужна в каждом "
        "запросе. Укажите сервер порта как rfc2217://узел:порт.");
    return text;
}

std::unique_ptr<platform::SerialPort> OpenDevicePort(std::string_view portName,
                                                     std::uint32_t baudRate,
                                                     platform::DeviceControl& deviceControl) {
    std::unique_ptr<platform::SerialPort> port = platform::SerialPort::Open(portName);
    if (!port) {
        return nullptr;
    }
    // Frames the device would ignore are worse than no reading at all.
    if (!port->SwitchesParity()) {
        port.reset();
        errno = EPROTONOSUPPORT;
        return nullptr;
    }
    platform::DeviceControl dcb;
    if (!port->GetCommState(dcb)) {
        return nullptr;
    }
    ApplyLineSettings(dcb, baudRate);
    dcb.fAbortOnError = false;
    if (!port->SetCommState(dcb)) {
        return nullptr;
    }
    if (!port->SetCommTimeouts(TimeoutsFromBase(BaseTimeoutForBaud(baudRate)))) {
        return nullptr;
    }
    deviceControl = dcb;
    return port;
}

}  // namespace protocol
