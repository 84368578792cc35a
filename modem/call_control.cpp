#include "modem/call_control.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "modem/history.h"
#include "modem/tarvex.h"
#include "modem/texts.h"
#include "platform/cp1251_literal.h"
#include "telephony/line_api.h"
#include "telephony/modem_config.h"

namespace tarvex {
namespace {

using namespace telephony;
using platform::Event;
using std::chrono::milliseconds;

constexpr std::uint32_t kStatusMessagesAdded = 0x0004040E;
constexpr std::uint32_t kMaxRings = 10;

std::string_view IncomingCallText() {
    return W1251("входящий звонок");
}

void StampOpenStart(ModemSlot& slot) {
    slot.openStartTime = Now();
    slot.openStartMs = TickMs();
    ++slot.connectionsBegun;
}

// Records a TAPI error; the texts are looked up only when there is a file to write them to.
void RecordTapiError(ModemSlot& slot, std::int32_t error) {
    if (slot.historyFile >= 0) {
        WriteOpeningError(slot, TapiErrorText(error));
    }
}

// Starting TAPI for a slot.
bool StartTapi(Library& library, ModemSlot& slot) {
    if (library.tapiInitialised) {
        slot.usesTapi = true;
        return true;
    }
    slot.usesTapi = false;
    std::uint32_t app = 0;
    std::uint32_t devices = 0;
    std::uint32_t version = kApiVersion;
    LineInitializeExParams params;
    params.options = kInitializeExOptionUseEvent;
    const std::int32_t result = LineInitializeEx(app, devices, version, params);
    if (result != 0) {
        RecordTapiError(slot, result);
        return false;
    }
    if (version != kApiVersion || devices == 0 || !params.event) {
        LineShutdown(app);  // nothing would ever shut it down otherwise
        if (devices == 0 && slot.historyFile >= 0) {
            WriteOpeningError(slot, NoModemsText());
        }
        return false;
    }
    library.lineApp = app;
    library.deviceCount = devices;
    library.apiVersion = version;
    library.tapiEvent = params.event;
    library.tapiReady.Set();
    slot.usesTapi = true;
    library.tapiInitialised = true;
    return true;
}

// The line's port name decides whether it is the slot's modem.
bool PortMatches(ModemSlot& slot, std::uint32_t line) {
    VarString id;
    std::int32_t result = LineGetId(line, 0, 0, kCallSelectLine, id, "comm/datamodem/portname");
    if (result == 0 && id.neededSize > id.totalSize) {
        id.totalSize = id.neededSize;
        result = LineGetId(line, 0, 0, kCallSelectLine, id, "comm/datamodem/portname");
    }
    if (result != 0 || id.payload.empty()) {
        return false;
    }
    const auto end = std::find(id.payload.begin(), id.payload.end(), 0);
    const std::string name(id.payload.begin(), end);
    if (slot.index != 0) {
        if (name == "COM" + Decimal(slot.index)) {
            slot.portNumber = slot.index;
            return true;
        }
        return false;
    }
    for (std::uint32_t port = 1; port <= 8; ++port) {
        if (name == "COM" + Decimal(port)) {
            slot.portNumber = port;
            return true;
        }
    }
    return false;
}

// Slot n wants the modem on COMn, slot 0 any on COM1..COM8.
bool WantsPort(const ModemSlot& slot, const std::string& port) {
    if (slot.index != 0) {
        return port == "COM" + Decimal(slot.index);
    }
    for (std::uint32_t number = 1; number <= 8; ++number) {
        if (port == "COM" + Decimal(number)) {
            return true;
        }
    }
    return false;
}

// Opens the slot's line. Only the modem the slot names is touched, by the port its line device
// gives in its capabilities; opening resets and sets it up, which takes seconds, so the lock is
// let go meanwhile (the slot uses TAPI, so nothing shuts it down).
bool OpenLine(Library& library, ModemSlot& slot, Lock& lock) {
    bool tried = false;
    for (std::uint32_t device = 0; device < library.deviceCount; ++device) {
        std::uint32_t version = 0;
        if (LineNegotiateApiVersion(library.lineApp, device, kApiVersion, kApiVersion, version) !=
            0) {
            continue;
        }
        LineDevCaps caps;
        if (LineGetDevCaps(library.lineApp, device, version, caps) != 0 ||
            (caps.mediaModes & kMediaModeDataModem) == 0 || !WantsPort(slot, caps.portName)) {
            continue;
        }
        tried = true;
        const std::uint32_t app = library.lineApp;
        std::uint32_t line = 0;
        OpenFault fault = OpenFault::kNone;
        lock.unlock();
        const std::int32_t result =
            LineOpen(app, device, line, version, kPrivilegeOwner, kMediaModeDataModem, &fault);
        lock.lock();
        if (result != 0) {
            if (slot.historyFile >= 0) {
                WriteOpeningError(slot, OpenFaultText(result, fault));
            }
            continue;
        }
        if (PortMatches(slot, line)) {
            slot.lineHandle = line;
            slot.deviceMaxRate = caps.maxRate;
            slot.lineOpen = true;
            return true;
        }
        LineClose(line);
    }
    if (!tried) {
        WriteHistory(slot, W1251("Ошибка при обращении к модему:\r\n   COM-порт = ???\r\n\r\n"));
    }
    return false;
}

void SetStatusMessages(ModemSlot& slot) {
    std::uint32_t lineStates = 0;
    std::uint32_t addressStates = 0;
    LineGetStatusMessages(slot.lineHandle, lineStates, addressStates);
    LineSetStatusMessages(slot.lineHandle, lineStates | kStatusMessagesAdded, addressStates);
}

// The TAPI shutdown check: the last user gone, the thread lets go of TAPI before it shuts.
void ShutdownCheck(Library& library) {
    if (!library.tapiInitialised) {
        return;
    }
    for (const ModemSlot& slot : library.slots) {
        if (slot.usesTapi) {
            return;
        }
    }
    library.shutdownRequest.Set();
    if (library.shutdownAcknowledge.Wait(milliseconds(CurrentTimings().shutdownWaitMs))) {
        LineShutdown(library.lineApp);
        library.tapiInitialised = false;
        library.tapiEvent.reset();
        library.lineApp = 0;
        library.deviceCount = 0;
    }
    library.shutdownRequest.Reset();
}

// Waiting for the connection, outgoing and incoming alike.
// `connectEvent` is the one the caller made under the lock: a hang-up may clear the slot's own
// before the wait starts.
std::uint32_t WaitForConnection(Library& library, ModemSlot& slot,
                                const std::shared_ptr<Event>& connectEvent,
                                std::uint32_t timeoutSeconds) {
    const std::uint64_t waitMs = std::uint64_t{timeoutSeconds} * CurrentTimings().secondMs;
    const bool signalled = connectEvent->Wait(milliseconds(waitMs));
    Lock lock(library.lock);
    slot.channelOpen = false;
    if (slot.connectAborted) {
        slot.connectAborted = false;
        WriteOpeningError(slot, W1251("отмена звонка\r\n\r\n"));
    } else if (!signalled) {
        WriteOpeningError(slot, W1251("вышло время\r\n\r\n"));
    } else if (slot.connected) {
        LineCallInfo info;
        slot.connectionRate = LineGetCallInfo(slot.callHandle, info) == 0 ? info.rate : 0;
        slot.openedTime = Now();
        slot.openedMs = TickMs();
        WriteChannelOpened(slot);
        VarString id;
        std::int32_t result =
            LineGetId(0, 0, slot.callHandle, kCallSelectCall, id, "comm/datamodem");
        if (result == 0 && id.neededSize > id.totalSize) {
            id.totalSize = id.neededSize;
            result = LineGetId(0, 0, slot.callHandle, kCallSelectCall, id, "comm/datamodem");
        }
        std::uint32_t handle = 0;
        if (result == 0 && id.payload.size() >= 4) {
            handle = id.payload[0] | (id.payload[1] << 8) | (id.payload[2] << 16) |
                     (static_cast<std::uint32_t>(id.payload[3]) << 24);
        }
        slot.dataHandle = handle;
        if (handle == 0) {
            WriteOpeningError(
                slot, W1251("ошибка при получении дескриптора COM-порта для модема\r\n\r\n"));
        } else if (!CommSetTimeouts(handle, platform::CommTimeouts{3000, 20, 3000, 20, 2000})) {
            WriteOpeningError(
                slot,
                W1251("ошибка при установке параметров тайм-аута COM-порта для модема\r\n\r\n"));
        } else {
            ++slot.connectionsOpened;
            slot.openedInConnection = true;
            slot.channelOpen = true;
        }
    } else if (slot.historyFile >= 0) {
        if ((slot.callStateBits & kCallStateDisconnected) != 0) {
            WriteOpeningError(slot, DisconnectReasonText(slot.disconnectMode));
        }
        if ((slot.callStateBits & kCallStateBusy) != 0) {
            WriteOpeningError(slot,
                              W1251("принят сигнал занятости от вызываемого абонента\r\n\r\n"));
        }
        if ((slot.callStateBits & kCallStateIdle) != 0) {
            WriteOpeningError(slot, W1251("отмена звонка\r\n\r\n"));
        }
    }
    slot.connectEvent.reset();
    const bool open = slot.channelOpen;
    lock.unlock();
    if (open) {
        return 1;
    }
    Disconnect(library, slot, false);
    return 0;
}

// The call fields go back to "no call"; with `full` the connection's counters too.
void ResetCallFields(ModemSlot& slot, bool full) {
    slot.makeCallRequest = -1;
    slot.dropRequest = -1;
    if (slot.connectEvent) {
        // A hang-up that raced a dial's start: the dial's wait must end now, not at its time-out.
        slot.connectAborted = true;
        slot.connectEvent->Set();
    }
    slot.connectEvent.reset();
    slot.dropEvent.reset();
    slot.callValid = false;
    slot.connected = false;
    slot.channelOpen = false;
    slot.callEnded = false;
    slot.closeStamped = false;
    slot.callHandle = 0;
    if (!slot.answerMode) {
        slot.lineOpen = false;
        slot.lineHandle = 0;
        slot.usesTapi = false;
    }
    if (full) {
        slot.openedInConnection = false;
        slot.readsInConnection = {};
        slot.writesInConnection = {};
        slot.phone.clear();
        slot.openStartMs = 0;
        slot.openedMs = 0;
        slot.closedMs = 0;
        slot.portNumber = 0;
    }
}

std::uint32_t ConnectAttempt(Library& library, ModemSlot& slot, std::string_view phone,
                             std::uint32_t minRate, std::uint32_t maxRate,
                             std::uint32_t timeoutSeconds) {
    Disconnect(library, slot, true);
    StampOpenStart(slot);
    WriteConnectionHeader(slot);
    if (phone.empty()) {
        WriteHistory(slot, "\r\n");
        WriteOpeningError(slot, W1251("не задан номер телефона вызываемого абонента\r\n\r\n"));
        slot.phone.clear();
        slot.closedTime = slot.openStartTime;
        slot.closedMs = slot.openStartMs;
        return 0;
    }
    slot.phone = std::string(phone.substr(0, kMaxPhoneLength));
    WriteHistory(slot, std::string(W1251("   номер телефона: ")) + slot.phone + "\r\n\r\n");
    if (!IsDialString(slot.phone)) {
        // A CR or ";" would end the dial command and start commands of its own.
        WriteOpeningError(slot, BadNumberText());
        return 0;
    }

    Lock lock(library.lock);
    if (StartTapi(library, slot) && OpenLine(library, slot, lock)) {
        SetStatusMessages(slot);
        if (maxRate == 0) {
            minRate = 0;
        }
        minRate = std::min({minRate, maxRate, slot.deviceMaxRate});
        maxRate = std::min(maxRate, slot.deviceMaxRate);
        slot.callStateBits = 0;
        slot.disconnectMode = 0;
        slot.connectEvent = NewEvent();
        std::uint32_t call = 0;
        // The caller's time-out also bounds the modem's own wait for the far end (S7).
        const std::int32_t request =
            LineMakeCall(slot.lineHandle, call, slot.phone, 0,
                         CallParams{minRate, maxRate, kMediaModeDataModem, timeoutSeconds});
        if (request < 0) {
            RecordTapiError(slot, request);
            slot.connectEvent.reset();
        } else {
            slot.makeCallRequest = request;
            slot.callHandle = call;
        }
    }
    const std::shared_ptr<Event> connectEvent = slot.connectEvent;
    lock.unlock();
    if (!connectEvent) {
        Disconnect(library, slot, false);
        return 0;
    }
    return WaitForConnection(library, slot, connectEvent, timeoutSeconds);
}

ModemSlot* SlotOfCall(Library& library, std::uint32_t call) {
    for (ModemSlot& slot : library.slots) {
        if (slot.callValid && slot.callHandle == call) {
            return &slot;
        }
    }
    return nullptr;
}

void OnCallState(Library& library, const LineMessage& message) {
    const std::uint32_t state = message.param1;
    if (ModemSlot* slot = SlotOfCall(library, message.device)) {
        switch (state) {
            case kCallStateConnected:
                slot->connected = true;
                if (slot->connectEvent) {
                    slot->connectEvent->Set();
                }
                return;
            case kCallStateDisconnected:
                slot->disconnectMode = message.param2;
                [[fallthrough]];
            case kCallStateIdle:
                LineDeallocateCall(slot->callHandle);
                slot->callValid = false;
                [[fallthrough]];
            case kCallStateBusy:
                slot->callStateBits |= state;
                if (!slot->closeStamped) {
                    StampClose(*slot);
                    slot->callEnded = true;
                }
                if (slot->connectEvent) {
                    slot->connectEvent->Set();
                }
                return;
            default:
                return;
        }
    }
    for (ModemSlot& slot : library.slots) {
        if (slot.offeredPending && slot.offeredCall == message.device) {
            if (state == kCallStateBusy || state == kCallStateDisconnected) {
                LineDeallocateCall(slot.offeredCall);
                slot.offeredPending = false;
            }
            return;
        }
    }
}

ModemSlot* SlotOfLine(Library& library, std::uint32_t line) {
    for (ModemSlot& slot : library.slots) {
        if (slot.lineOpen && slot.lineHandle == line) {
            return &slot;
        }
    }
    return nullptr;
}

void OnNewCall(Library& library, const LineMessage& message) {
    const std::uint32_t call = message.param2;
    ModemSlot* slot = SlotOfLine(library, message.device);
    if (slot == nullptr) {
        LineDeallocateCall(call);
        return;
    }
    if (slot->answerMode && message.param3 == kPrivilegeOwner) {
        if (slot->offeredPending && slot->offeredCall != call) {
            LineDeallocateCall(slot->offeredCall);
        }
        slot->offeredCall = call;
        slot->offeredPending = true;
        PostNotification(slot->notifyWindow, slot->notifyMessage, 1, slot->index);
    } else {
        LineDeallocateCall(call);
    }
}

void OnReply(Library& library, const LineMessage& message) {
    const auto request = static_cast<std::int32_t>(message.param1);
    for (ModemSlot& slot : library.slots) {
        if (slot.dropRequest > 0 && slot.dropRequest == request) {
            slot.dropRequest = -1;
            if (message.param2 == 0 && slot.dropEvent) {
                slot.dropEvent->Set();
            }
            return;
        }
        if (slot.makeCallRequest > 0 && slot.makeCallRequest == request) {
            slot.makeCallRequest = -1;
            if (message.param2 == 0) {
                slot.callValid = true;
            }
            return;
        }
    }
}

}  // namespace

std::uint32_t Connect(Library& library, ModemSlot& slot, const char* phone, std::uint32_t minRate,
                      std::uint32_t maxRate, std::uint32_t timeoutSeconds, std::uint32_t attempts) {
    const std::string_view number = phone != nullptr ? std::string_view(phone) : "";
    std::uint32_t result = 0;
    for (std::uint32_t attempt = 0; attempt < attempts && result == 0; ++attempt) {
        result = ConnectAttempt(library, slot, number, minRate, maxRate, timeoutSeconds);
    }
    return result;
}

std::uint32_t ConnectAnswer(Library& library, ModemSlot& slot, std::uint32_t rings,
                            std::uint32_t timeoutSeconds) {
    Lock lock(library.lock);
    StampOpenStart(slot);
    WriteConnectionHeader(slot);
    WriteHistory(slot, std::string(W1251("   номер телефона: ")) + std::string(IncomingCallText()) +
                           "\r\n\r\n");
    slot.phone = std::string(IncomingCallText());
    slot.ringsBeforeAnswer = std::min(rings, kMaxRings);
    slot.answerPending = false;
    if (slot.offeredPending) {
        if (slot.callValid) {
            LineDeallocateCall(slot.callHandle);
        }
        slot.callHandle = slot.offeredCall;
        slot.callValid = true;
        slot.offeredPending = false;
        SetStatusMessages(slot);
        if (slot.ringsBeforeAnswer > 1) {
            slot.answerPending = true;
            slot.callStateBits = 0;
            slot.disconnectMode = 0;
            slot.connectEvent = NewEvent();
        } else if (LineAnswer(slot.callHandle) >= 0) {
            slot.callStateBits = 0;
            slot.disconnectMode = 0;
            slot.connectEvent = NewEvent();
        }
    }
    const std::shared_ptr<Event> connectEvent = slot.connectEvent;
    lock.unlock();
    if (!connectEvent) {
        Disconnect(library, slot, false);
        return 0;
    }
    return WaitForConnection(library, slot, connectEvent, timeoutSeconds);
}

std::uint32_t AnswerModeOn(Library& library, ModemSlot& slot, int window, std::uint32_t message) {
    Lock lock(library.lock);
    slot.answerMode = false;
    slot.notifyWindow = window;
    slot.notifyMessage = message;
    bool on = false;
    if (slot.lineOpen) {
        on = true;
    } else {
        ResetCallFields(slot, true);
        slot.usesTapi = false;
        if (StartTapi(library, slot)) {
            if (OpenLine(library, slot, lock)) {
                SetStatusMessages(slot);
                on = true;
            } else {
                // Nothing else would ever give TAPI back.
                slot.usesTapi = false;
                ShutdownCheck(library);
            }
        }
    }
    slot.answerMode = on;
    lock.unlock();
    WriteAnswerModeRecord(slot,
                          on ? W1251("Включен режим ответа на входящие звонки\r\n")
                             : W1251("Ошибка при включении режима ответа на входящие звонки\r\n"));
    return on ? 1 : 0;
}

std::uint32_t AnswerModeOff(Library& library, ModemSlot& slot) {
    Lock lock(library.lock);
    slot.answerMode = false;
    WriteAnswerModeRecord(slot, W1251("Выключен режим ответа на входящие звонки\r\n"));
    return 1;
}

void HangUp(Library& library, ModemSlot& slot) {
    {
        Lock lock(library.lock);
        if (slot.connectEvent) {
            slot.connectAborted = true;
            slot.connectEvent->Set();
            return;
        }
    }
    Disconnect(library, slot, false);
}

void Disconnect(Library& library, ModemSlot& slot, bool full) {
    Lock lock(library.lock);
    if (slot.dataHandle != 0) {
        CommClose(slot.dataHandle);
        slot.dataHandle = 0;
    }
    slot.dropEvent.reset();
    const bool channelWasOpen = slot.channelOpen;
    if (slot.callEnded) {
        slot.connected = false;
    } else {
        if (slot.channelOpen && !slot.closeStamped) {
            StampClose(slot);
        }
        if (slot.connected) {
            const std::int32_t request = LineDrop(slot.callHandle);
            slot.connected = false;
            if (request > 0) {
                slot.dropRequest = request;
                try {
                    slot.dropEvent = NewEvent();
                } catch (const std::system_error&) {
                    // The drop goes on without us waiting for it; the line still closes.
                }
            }
        }
    }
    const std::shared_ptr<Event> dropEvent = slot.dropEvent;
    lock.unlock();

    if (channelWasOpen) {
        lock.lock();
        const std::uint32_t total = slot.closedMs - slot.openedMs + slot.channelMsRemainder;
        slot.channelSeconds += total / 1000;
        slot.channelMsRemainder = total % 1000;
        WriteChannelClosed(slot);
        lock.unlock();
    }
    if (dropEvent) {
        dropEvent->Wait(milliseconds(CurrentTimings().dropWaitMs));
    } else {
        std::this_thread::yield();
    }

    lock.lock();
    if (slot.offeredPending) {
        LineDeallocateCall(slot.offeredCall);
        slot.offeredPending = false;
    }
    slot.answerPending = false;
    if (slot.callValid) {
        LineDeallocateCall(slot.callHandle);
    }
    if (!slot.answerMode || full) {
        if (slot.lineOpen) {
            // Closing may still hang up: not under the lock.
            const std::uint32_t line = slot.lineHandle;
            slot.lineOpen = false;
            slot.lineHandle = 0;
            lock.unlock();
            LineClose(line);
            lock.lock();
        }
        slot.usesTapi = false;
        ShutdownCheck(library);
    }
    ResetCallFields(slot, full);
}

void HandleMessage(Library& library, const LineMessage& message) {
    library.lastMessage = message;
    switch (message.messageId) {
        case kLineCallState:
            OnCallState(library, message);
            return;
        case kLineClose:
            if (ModemSlot* slot = SlotOfLine(library, message.device)) {
                slot->lineOpen = false;
            }
            return;
        case kLineDevState:
            if ((message.param1 & kLineDevStateRinging) != 0) {
                if (ModemSlot* slot = SlotOfLine(library, message.device)) {
                    if (slot->answerPending && slot->callValid &&
                        message.param3 + 1 >= slot->ringsBeforeAnswer) {
                        LineAnswer(slot->callHandle);
                        slot->answerPending = false;
                    }
                }
            }
            return;
        case kLineReply:
            OnReply(library, message);
            return;
        case kLineAppNewCall:
            OnNewCall(library, message);
            return;
        default:
            return;
    }
}

void PeriodicCheck(Library& library) {
    for (ModemSlot& slot : library.slots) {
        if (slot.answerMode && !slot.lineOpen) {
            WriteAnswerModeRecord(
                slot,
                W1251("Отключение режима ответа на входящие звонки (возможно выключен модем)\r\n"));
            PostNotification(slot.notifyWindow, slot.notifyMessage, 2, slot.index);
        }
    }
}

void PostNotification(int window, std::uint32_t message, std::uint32_t code, std::uint32_t slot) {
    if (window < 0) {
        return;
    }
    const TarvexNotification record{message, code, slot};
    const ssize_t sent = ::send(window, &record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0 || errno != ENOTSOCK) {
        return;
    }
    // A pipe: write only when there is room, so the thread never blocks on a slow reader.
    pollfd entry{window, POLLOUT, 0};
    if (::poll(&entry, 1, 0) != 1 || (entry.revents & POLLOUT) == 0) {
        return;
    }
    if (::write(window, &record, sizeof record) < 0 && errno == EPIPE) {
        // The reader is gone; the SIGPIPE is blocked on this thread: take it back.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec none{0, 0};
        sigtimedwait(&pipe, nullptr, &none);
    }
}

}  // namespace tarvex
