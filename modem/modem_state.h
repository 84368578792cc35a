// The library's state: nine modem slots, the telephony application shared by them, the lock,
// the four events and the message thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "modem/tarvex_internal.h"
#include "platform/event.h"
#include "telephony/line_api.h"

namespace tarvex {

inline constexpr std::uint32_t kSlotCount = 9;
inline constexpr std::size_t kMaxPhoneLength = 31;

// A pair of data-operation counters: successful ones and all.
struct OperationCount {
    std::uint32_t ok = 0;
    std::uint32_t all = 0;
};

struct ModemSlot {
    std::uint32_t lineHandle = 0;
    std::uint32_t callHandle = 0;
    std::uint32_t dataHandle = 0;
    int historyFile = -1;
    std::uint32_t deviceMaxRate = 0;
    std::uint32_t connectionRate = 0;
    bool detailedHistory = false;
    bool lineOpen = false;
    bool callValid = false;
    bool connected = false;
    bool channelOpen = false;
    bool callEnded = false;
    bool closeStamped = false;
    bool openedInConnection = false;
    bool answerMode = false;
    std::uint32_t ringsBeforeAnswer = 3;
    int notifyWindow = -1;
    std::uint32_t notifyMessage = 0;
    std::uint32_t offeredCall = 0;
    bool offeredPending = false;
    bool answerPending = false;
    std::uint32_t portNumber = 0;
    std::uint32_t connectionsBegun = 0;
    std::uint32_t connectionsOpened = 0;
    OperationCount readsInConnection;
    OperationCount writesInConnection;
    OperationCount readsSinceLoad;
    OperationCount writesSinceLoad;
    std::uint32_t openStartMs = 0;
    std::uint32_t openedMs = 0;
    std::uint32_t closedMs = 0;
    std::uint32_t channelSeconds = 0;
    std::uint32_t channelMsRemainder = 0;
    LocalTime openStartTime;
    LocalTime openedTime;
    LocalTime closedTime;
    std::uint32_t callStateBits = 0;
    std::uint32_t disconnectMode = 0;
    std::int32_t makeCallRequest = -1;
    std::int32_t dropRequest = -1;
    std::shared_ptr<platform::Event> connectEvent;
    // The caller hung up while a connect still waited: the waiting connect ends the call.
    bool connectAborted = false;
    std::shared_ptr<platform::Event> dropEvent;
    std::string phone;
    std::string statistics;  // grows as needed, so it always holds the whole text
    std::uint32_t index = 0;
    bool usesTapi = false;
};

struct Library {
    // Telephony application.
    std::uint32_t lineApp = 0;
    std::uint32_t deviceCount = 0;
    std::uint32_t apiVersion = 0;
    std::shared_ptr<platform::Event> tapiEvent;
    bool tapiInitialised = false;
    telephony::LineMessage lastMessage;

    platform::Event tapiReady;
    platform::Event shutdownRequest;
    platform::Event shutdownAcknowledge;
    platform::Event stop;
    platform::Event threadEnded{platform::Event::Kind::kManualReset};

    // Re-entrant like a critical section.
    std::recursive_mutex lock;
    std::thread thread;

    ModemSlot slots[kSlotCount];
};

// The loaded library, or nullptr before load and after unload.
Library* TheLibrary();

// A new auto-reset event. Throws std::system_error when none can be made (no descriptor left).
std::shared_ptr<platform::Event> NewEvent();

// Time and waits, as set for tests or the real ones.
std::uint32_t TickMs();
LocalTime Now();
Timings CurrentTimings();

}  // namespace tarvex
