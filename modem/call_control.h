// Placing and answering calls, waiting for them, dropping them; the telephony start and
// shutdown; what the message thread does with each message.
#pragma once

#include <cstdint>

#include "modem/modem_state.h"

namespace tarvex {

using Lock = std::unique_lock<std::recursive_mutex>;

std::uint32_t Connect(Library& library, ModemSlot& slot, const char* phone, std::uint32_t minRate,
                      std::uint32_t maxRate, std::uint32_t timeoutSeconds, std::uint32_t attempts);
std::uint32_t ConnectAnswer(Library& library, ModemSlot& slot, std::uint32_t rings,
                            std::uint32_t timeoutSeconds);
std::uint32_t AnswerModeOn(Library& library, ModemSlot& slot, int window, std::uint32_t message);
std::uint32_t AnswerModeOff(Library& library, ModemSlot& slot);
// `full`: also the line, the per-connection counters and the phone (a new attempt).
void Disconnect(Library& library, ModemSlot& slot, bool full);
// ModemDisconnect: a connect that still waits for its call is woken and ends the call itself,
// so a caller can give up a dial without waiting for its time-out.
void HangUp(Library& library, ModemSlot& slot);

// The message thread's part, under the lock.
void HandleMessage(Library& library, const telephony::LineMessage& message);
void PeriodicCheck(Library& library);

// Writes a notification record to the caller's descriptor without ever blocking.
void PostNotification(int window, std::uint32_t message, std::uint32_t code, std::uint32_t slot);

}  // namespace tarvex
