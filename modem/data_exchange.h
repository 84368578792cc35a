// The four data operations over an open channel.
#pragma once

#include <cstdint>

#include "modem/modem_state.h"

namespace tarvex {

std::uint32_t Read(Library& library, ModemSlot& slot, std::uint32_t length, std::uint8_t* buffer);
std::uint32_t Write(Library& library, ModemSlot& slot, std::uint32_t length,
                    const std::uint8_t* buffer);
std::uint32_t ReadHC(Library& library, ModemSlot& slot, std::uint32_t subscriber,
                     std::uint32_t address, std::uint32_t length, std::uint8_t* buffer);
std::uint32_t WriteHC(Library& library, ModemSlot& slot, std::uint32_t subscriber,
                      std::uint32_t address, std::uint32_t length, const std::uint8_t* buffer);

}  // namespace tarvex
