// The slot's history file and its records, and the two statistics texts.
#pragma once

#include <cstdint>
#include <string_view>

#include "modem/modem_state.h"
#include "telephony/line_api.h"

namespace tarvex {

// Appends to the history file when one is open; write errors are ignored.
void WriteHistory(ModemSlot& slot, std::string_view text);
void WriteSeparator(ModemSlot& slot);

// Stamps the close time of the connection (local time and millisecond counter).
void StampClose(ModemSlot& slot);

// Record 1: separator, session number, start of opening.
void WriteConnectionHeader(ModemSlot& slot);
// Record 2: stamps the close time if it is not yet, then the error block with `reason`.
void WriteOpeningError(ModemSlot& slot, std::string_view reason);
// Record 3.
void WriteChannelOpened(ModemSlot& slot);
// Record 5, the close-of-call block.
void WriteChannelClosed(ModemSlot& slot);
// Record 6: separator, time stamp, `text`, separator.
void WriteAnswerModeRecord(ModemSlot& slot, std::string_view text);
// Record 4: only with the detailed flag; preceded by a time stamp of now when it can be made.
void WriteDataRecord(ModemSlot& slot, std::string_view text);

std::uint32_t OpenHistoryFile(ModemSlot& slot, const char* path, std::uint32_t detailed);
std::uint32_t CloseHistoryFile(ModemSlot& slot);

// Built in the slot's buffer; the pointer stays valid until the next statistics call.
const char* BuildStatistics(ModemSlot& slot);
const char* BuildStatisticsAll(ModemSlot& slot);
const char* NoStatisticsText();

// The texts that failures leave in the history file.
std::string_view TapiErrorText(std::int32_t error);
std::string_view DisconnectReasonText(std::uint32_t disconnectMode);
// Why the slot's line did not open: the TAPI text where there is one, else a plain one.
std::string_view OpenFaultText(std::int32_t error, telephony::OpenFault fault);
std::string_view NoModemsText();
std::string_view BadNumberText();

}  // namespace tarvex
