// The serial link of the data transfer device (УПД): its command frames, the shapes of its
// replies and the port set up for it. Shared by zadoro, fenlor and the catalog reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace updtools {

inline constexpr std::size_t kCommandSize = 5;
inline constexpr std::size_t kReplySize = 20;    // one read asks for this many bytes
inline constexpr std::size_t kPayloadSize = 16;  // an entry's name or a block's data
inline constexpr std::size_t kPayloadOffset = 3;

enum class UpdCommand : std::uint8_t {
    kOpen = 'j',       // rewinds the catalog; acknowledged with 00 50 50
    kNextEntry = 'e',  // the next catalog entry
    kNextBlock = 'g',  // the next 16 bytes of the current archive
};

// 03 01 00 letter sum.
std::array<std::uint8_t, kCommandSize> CommandBytes(UpdCommand command);

// What one read brought: 0..20 bytes.
using Reply = std::vector<std::uint8_t>;

// The acknowledgement, which also ends the catalog and an archive: 00 50 50 first.
bool IsEndOfList(const Reply& reply);
// The console tools' lenient test: a device answers when any of the first three bytes is the
// acknowledgement's byte at that place.
bool AnyAcknowledgementByte(const Reply& reply);
// An entry or block: exactly 20 bytes whose last is the 8-bit sum of the others.
bool IsWholeReply(const Reply& reply);
// A whole reply's payload up to its first zero byte (all 16 bytes when there is none); CR and LF
// show as "?", so a name stays on its catalog line.
std::string EntryName(const Reply& reply);

// Read interval T, total multipliers T/10, total constants T.
platform::CommTimeouts UpdTimeouts(std::uint32_t t);

// The rates the tools take: 1200 .. 115200.
bool IsUpdSpeed(long long baud);

// A number as the tools read their arguments: leading blanks, an optional sign, decimal
// digits up to the first other character; no digits is 0. Saturates instead of overflowing.
long long ParseNumber(std::string_view text);

// How much of the line's settings a program sets: the console tools only rate, character size,
// parity, stop bits and the two control lines; the catalog reader fixes flow control too.
enum class LineSetup { kTool, kCatalogReader };

class UpdPort {
  public:
    // "COM<number>"; nullptr when it cannot be opened (errno set).
    [[nodiscard]] static std::unique_ptr<UpdPort> Open(int portNumber);
    // Switches DTR and RTS off, then closes.
    ~UpdPort();
    UpdPort(const UpdPort&) = delete;
    UpdPort& operator=(const UpdPort&) = delete;

    [[nodiscard]] bool SetTimeouts(std::uint32_t t);
    // 8 data bits, MARK parity, two stop bits, DTR and RTS on, at `baud`; the rest as found
    // (or, for the catalog reader, without flow control or character stripping).
    [[nodiscard]] bool Setup(std::uint32_t baud, LineSetup setup);

    // False when the command could not be written whole.
    bool Send(UpdCommand command);
    // One read of up to 20 bytes under the time-outs; empty after an I/O error.
    Reply Receive();
    Reply Exchange(UpdCommand command);

  private:
    explicit UpdPort(std::unique_ptr<platform::SerialPort> port);
    std::unique_ptr<platform::SerialPort> port_;
    bool configured_ = false;
};

}  // namespace updtools
