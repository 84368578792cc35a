// The telephony layer: the TAPI 2.0 line functions that the modem library uses, with TAPI's
// semantics (asynchronous requests answered by reply messages, an event-signalled message
// queue), provided over Hayes AT modems on the serial ports named in TARVEX_MODEMS.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"
#include "platform/serial_port.h"

namespace telephony {

inline constexpr std::uint32_t kApiVersion = 0x00020001;

// Error results; every one is negative as a 32-bit signed number.
inline constexpr std::int32_t kErrAllocated = static_cast<std::int32_t>(0x80000001u);
inline constexpr std::int32_t kErrBadDeviceId = static_cast<std::int32_t>(0x80000002u);
inline constexpr std::int32_t kErrCallUnavail = static_cast<std::int32_t>(0x80000007u);
inline constexpr std::int32_t kErrIncompatibleApiVersion = static_cast<std::int32_t>(0x8000000Cu);
inline constexpr std::int32_t kErrInvalAppHandle = static_cast<std::int32_t>(0x80000015u);
inline constexpr std::int32_t kErrInvalCallHandle = static_cast<std::int32_t>(0x80000018u);
inline constexpr std::int32_t kErrInvalAddress = static_cast<std::int32_t>(0x80000019u);
inline constexpr std::int32_t kErrInvalCallState = static_cast<std::int32_t>(0x8000001Cu);
inline constexpr std::int32_t kErrInvalLineHandle = static_cast<std::int32_t>(0x8000002Bu);
inline constexpr std::int32_t kErrInvalMediaMode = static_cast<std::int32_t>(0x8000002Fu);
inline constexpr std::int32_t kErrInvalParam = static_cast<std::int32_t>(0x80000032u);
inline constexpr std::int32_t kErrNoDevice = static_cast<std::int32_t>(0x80000035u);
inline constexpr std::int32_t kErrNoMem = static_cast<std::int32_t>(0x80000044u);
inline constexpr std::int32_t kErrOperationFailed = static_cast<std::int32_t>(0x80000048u);
inline constexpr std::int32_t kErrResourceUnavail = static_cast<std::int32_t>(0x8000004Bu);
inline constexpr std::int32_t kErrReinit = static_cast<std::int32_t>(0x80000052u);

// Messages (LineMessage::messageId).
inline constexpr std::uint32_t kLineCallState = 2;    // device = call; p1 state, p2 detail
inline constexpr std::uint32_t kLineClose = 3;        // device = line
inline constexpr std::uint32_t kLineDevState = 8;     // device = line; p1 state, p3 ring count
inline constexpr std::uint32_t kLineReply = 12;       // p1 request id, p2 result
inline constexpr std::uint32_t kLineAppNewCall = 23;  // device = line; p2 call, p3 privilege

// Call states.
inline constexpr std::uint32_t kCallStateIdle = 0x1;
inline constexpr std::uint32_t kCallStateOffering = 0x2;
inline constexpr std::uint32_t kCallStateBusy = 0x40;
inline constexpr std::uint32_t kCallStateConnected = 0x100;
inline constexpr std::uint32_t kCallStateProceeding = 0x200;
inline constexpr std::uint32_t kCallStateDisconnected = 0x4000;

// Disconnect modes (detail of the disconnected state).
inline constexpr std::uint32_t kDisconnectNormal = 0x1;
inline constexpr std::uint32_t kDisconnectReject = 0x4;
inline constexpr std::uint32_t kDisconnectBusy = 0x20;
inline constexpr std::uint32_t kDisconnectNoAnswer = 0x40;
inline constexpr std::uint32_t kDisconnectUnreachable = 0x100;
inline constexpr std::uint32_t kDisconnectNoDialTone = 0x1000;
inline constexpr std::uint32_t kDisconnectOutOfOrder = 0x4000;
inline constexpr std::uint32_t kDisconnectTempFailure = 0x8000;
inline constexpr std::uint32_t kDisconnectCancelled = 0x80000;

// Line device states (status message mask and kLineDevState p1).
inline constexpr std::uint32_t kLineDevStateRinging = 0x4;

inline constexpr std::uint32_t kMediaModeDataModem = 0x10;
inline constexpr std::uint32_t kPrivilegeOwner = 0x4;
inline constexpr std::uint32_t kCallSelectLine = 0x1;
inline constexpr std::uint32_t kCallSelectCall = 0x4;
inline constexpr std::uint32_t kInitializeExOptionUseEvent = 0x2;

struct LineInitializeExParams {
    std::uint32_t options = kInitializeExOptionUseEvent;
    // Out: signalled while messages wait in the queue.
    std::shared_ptr<platform::Event> event;
};

struct LineDevCaps {
    std::uint32_t maxRate = 0;
    std::uint32_t mediaModes = 0;
    std::string lineName;
    // Provider-specific: the port the line device is on ("COM3"), so that an application can
    // pick its modem without opening (and so resetting) the others.
    std::string portName;
};

struct CallParams {
    std::uint32_t minRate = 0;
    std::uint32_t maxRate = 0;
    std::uint32_t mediaMode = kMediaModeDataModem;
    // Seconds to wait for the far end after dialling (the modem's S7); 0: the modem's own.
    std::uint32_t noAnswerTimeout = 0;
};

// Why a line did not open, beyond the error code.
enum class OpenFault {
    kNone,
    kPortMissing,   // no such device
    kPortDenied,    // no permission (the dialout group)
    kPortBusy,      // another program holds it
    kPortSettings,  // not a serial port, or its settings do not take
    kNoAnswer,      // the modem says nothing, even after a DTR drop
    kInitRefused,   // the modem answers ERROR to the set-up
};

struct LineCallInfo {
    std::uint32_t rate = 0;  // of the connection; 0 before it
    std::uint32_t mediaMode = 0;
    bool incoming = false;
    CallParams params;  // as the call was made with
};

// VARSTRING: the caller says how much room it has (the 24-byte header included); the layer
// says how much it needs and fills `payload` only when it fits.
struct VarString {
    static constexpr std::uint32_t kHeaderSize = 24;
    std::uint32_t totalSize = kHeaderSize;
    std::uint32_t neededSize = 0;
    std::vector<std::uint8_t> payload;
};

struct LineMessage {
    std::uint32_t device = 0;
    std::uint32_t messageId = 0;
    std::uint32_t param1 = 0;
    std::uint32_t param2 = 0;
    std::uint32_t param3 = 0;
};

// Builds the layer's state now. A user that registers exit handlers afterwards (std::atexit)
// has them run while the layer still stands.
void PrepareLineLayer();

// Synchronous functions return 0 or an error; asynchronous ones (MakeCall, Answer, Drop) a
// positive request id whose kLineReply follows, or an error.
std::int32_t LineInitializeEx(std::uint32_t& lineApp, std::uint32_t& deviceCount,
                              std::uint32_t& apiVersion, LineInitializeExParams& params);
std::int32_t LineShutdown(std::uint32_t lineApp);
std::int32_t LineNegotiateApiVersion(std::uint32_t lineApp, std::uint32_t deviceId,
                                     std::uint32_t lowVersion, std::uint32_t highVersion,
                                     std::uint32_t& apiVersion);
std::int32_t LineGetDevCaps(std::uint32_t lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                            LineDevCaps& caps);
// Opens the modem's port and initialises the modem; fails when it does not answer. `fault`,
// when given, says why it failed.
std::int32_t LineOpen(std::uint32_t lineApp, std::uint32_t deviceId, std::uint32_t& line,
                      std::uint32_t apiVersion, std::uint32_t privileges, std::uint32_t mediaModes,
                      OpenFault* fault = nullptr);
std::int32_t LineClose(std::uint32_t line);
// "comm/datamodem/portname" (line select): the port name, zero-terminated.
// "comm/datamodem" (call select, connected call): a 4-byte data handle, then the port name.
// Every handle handed out must be given back with CommClose.
std::int32_t LineGetId(std::uint32_t line, std::uint32_t addressId, std::uint32_t call,
                       std::uint32_t select, VarString& id, std::string_view deviceClass);
std::int32_t LineGetStatusMessages(std::uint32_t line, std::uint32_t& lineStates,
                                   std::uint32_t& addressStates);
std::int32_t LineSetStatusMessages(std::uint32_t line, std::uint32_t lineStates,
                                   std::uint32_t addressStates);
std::int32_t LineMakeCall(std::uint32_t line, std::uint32_t& call, std::string_view number,
                          std::uint32_t countryCode, const CallParams& params);
std::int32_t LineAnswer(std::uint32_t call);
std::int32_t LineDrop(std::uint32_t call);
// Forgets the call; one still in progress is hung up without further messages.
std::int32_t LineDeallocateCall(std::uint32_t call);
std::int32_t LineGetCallInfo(std::uint32_t call, LineCallInfo& info);
// 0 with a message, kErrOperationFailed when none came within `timeoutMs`.
std::int32_t LineGetMessage(std::uint32_t lineApp, LineMessage& message, std::uint32_t timeoutMs);

// File calls on a data handle (ReadFile/WriteFile with their COMMTIMEOUTS). A transfer that
// the time-outs have not ended within `limit` is cancelled.
struct CommTransfer {
    bool ok = false;         // false: I/O error, carrier lost, unknown handle
    bool cancelled = false;  // `limit` ran out first
    std::size_t count = 0;
};
bool CommSetTimeouts(std::uint32_t handle, const platform::CommTimeouts& timeouts);
CommTransfer CommRead(std::uint32_t handle, std::uint8_t* buffer, std::size_t count,
                      std::chrono::milliseconds limit);
CommTransfer CommWrite(std::uint32_t handle, const std::uint8_t* buffer, std::size_t count,
                       std::chrono::milliseconds limit);
bool CommClose(std::uint32_t handle);

}  // namespace telephony
