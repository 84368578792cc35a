// The sixteen exports: the slot check, then the work. Nothing is thrown across the C interface:
// an internal failure becomes the export's failure result.
#include "modem/tarvex.h"

#include <new>

#include "modem/call_control.h"
#include "modem/data_exchange.h"
#include "modem/history.h"
#include "modem/modem_state.h"
#include "platform/cp1251_literal.h"

namespace {

using tarvex::Library;
using tarvex::ModemSlot;

// The loaded library when the slot index is valid; nullptr otherwise.
Library* Checked(std::uint32_t slot) {
    Library* library = tarvex::TheLibrary();
    return library != nullptr && slot < tarvex::kSlotCount ? library : nullptr;
}

// Runs `work`; any exception gives `failure` instead.
template <class Result, class Work>
Result Guarded(Result failure, Work&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return failure;
    }
}

// An internal failure during a call attempt: the cause goes to the history file and the slot
// back to "no call", as far as that still works.
std::uint32_t ConnectFailed(Library& library, ModemSlot& slot, bool outOfMemory) noexcept {
    try {
        {
            std::lock_guard lock(library.lock);
            if (slot.historyFile >= 0) {
                tarvex::WriteOpeningError(
                    slot, tarvex::TapiErrorText(outOfMemory ? telephony::kErrNoMem : 0));
            }
        }
        tarvex::Disconnect(library, slot, false);
    } catch (...) {
        // Nothing more can be done; the next connect starts with a full reset.
    }
    return 0;
}

std::uint32_t GuardedConnect(Library& library, ModemSlot& slot, auto&& work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return ConnectFailed(library, slot, true);
    } catch (...) {
        return ConnectFailed(library, slot, false);
    }
}

}  // namespace

extern "C" {

uint32_t ModemConnect(uint32_t slot, const char* phoneNumber, uint32_t minRate, uint32_t maxRate,
                      uint32_t timeoutSeconds, uint32_t attempts) {
    Library* library = Checked(slot);
    if (library == nullptr || attempts == 0) {
        return 0;
    }
    return GuardedConnect(*library, library->slots[slot], [&] {
        return tarvex::Connect(*library, library->slots[slot], phoneNumber, minRate, maxRate,
                               timeoutSeconds, attempts);
    });
}

uint32_t ModemDisconnect(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] {
        tarvex::HangUp(*library, library->slots[slot]);
        return 1u;
    });
}

uint32_t ModemRead(uint32_t slot, uint32_t length, uint8_t* buffer) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u,
                   [&] { return tarvex::Read(*library, library->slots[slot], length, buffer); });
}

uint32_t ModemWrite(uint32_t slot, uint32_t length, const uint8_t* buffer) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u,
                   [&] { return tarvex::Write(*library, library->slots[slot], length, buffer); });
}

uint32_t ModemReadHC(uint32_t slot, uint32_t subscriber, uint32_t address, uint32_t length,
                     uint8_t* buffer) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] {
        return tarvex::ReadHC(*library, library->slots[slot], subscriber, address, length, buffer);
    });
}

uint32_t ModemWriteHC(uint32_t slot, uint32_t subscriber, uint32_t address, uint32_t length,
                      const uint8_t* buffer) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] {
        return tarvex::WriteHC(*library, library->slots[slot], subscriber, address, length, buffer);
    });
}

uint32_t ModemOpenHistoryFile(uint32_t slot, const char* path, uint32_t detailed) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] {
        std::lock_guard lock(library->lock);
        return tarvex::OpenHistoryFile(library->slots[slot], path, detailed);
    });
}

uint32_t ModemCloseHistoryFile(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] {
        std::lock_guard lock(library->lock);
        return tarvex::CloseHistoryFile(library->slots[slot]);
    });
}

const char* ModemGetStatistics(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return tarvex::NoStatisticsText();
    }
    return Guarded(tarvex::NoStatisticsText(), [&] {
        std::lock_guard lock(library->lock);
        return tarvex::BuildStatistics(library->slots[slot]);
    });
}

const char* ModemGetStatisticsAll(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return tarvex::NoStatisticsText();
    }
    return Guarded(tarvex::NoStatisticsText(), [&] {
        std::lock_guard lock(library->lock);
        return tarvex::BuildStatisticsAll(library->slots[slot]);
    });
}

const char* ModemGetVersion(void) {
    return W1251("Библиотека \"tarvex\" (версия 1.1)").data();
}

uint32_t ModemGetStatus(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] {
        std::lock_guard lock(library->lock);
        return library->slots[slot].channelOpen ? 1u : 0u;
    });
}

uint32_t ModemAnswerModeOn(uint32_t slot, int window, uint32_t message) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(
        0u, [&] { return tarvex::AnswerModeOn(*library, library->slots[slot], window, message); });
}

uint32_t ModemAnswerModeOff(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(0u, [&] { return tarvex::AnswerModeOff(*library, library->slots[slot]); });
}

uint32_t ModemConnectAnswer(uint32_t slot, uint32_t rings, uint32_t timeoutSeconds) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return GuardedConnect(*library, library->slots[slot], [&] {
        return tarvex::ConnectAnswer(*library, library->slots[slot], rings, timeoutSeconds);
    });
}

uintptr_t ModemGetCommHandle(uint32_t slot) {
    Library* library = Checked(slot);
    if (library == nullptr) {
        return 0;
    }
    return Guarded(uintptr_t{0}, [&] {
        std::lock_guard lock(library->lock);
        return static_cast<uintptr_t>(library->slots[slot].dataHandle);
    });
}

}  // extern "C"
