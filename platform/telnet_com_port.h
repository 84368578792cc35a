// The Telnet side of a network serial port (RFC 854 framing, RFC 2217 COM-port control): the
// client's requests as bytes, and a decoder that splits what the server sends into line data
// and control. No I/O here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;

// Client-to-server COM-port commands; the server answers with the code + 100.
enum ComPortCommand : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,    // 1 none, 2 odd, 3 even, 4 mark, 5 space
    kSetStopSize = 4,  // 1 one, 2 two, 3 one and a half
    kSetControl = 5,
    kNotifyModemState = 7,
    kPurgeData = 12,  // 1 the server's receive buffer, 2 its transmit buffer, 3 both
};
inline constexpr std::uint8_t kServerReply = 100;

// kSetControl values.
inline constexpr std::uint8_t kNoFlowControl = 1;
inline constexpr std::uint8_t kXonXoffFlowControl = 2;
inline constexpr std::uint8_t kHardwareFlowControl = 3;
inline constexpr std::uint8_t kDtrOn = 8;
inline constexpr std::uint8_t kDtrOff = 9;
inline constexpr std::uint8_t kRtsOn = 11;
inline constexpr std::uint8_t kRtsOff = 12;

// Modem-state bits the server notifies.
inline constexpr std::uint8_t kCarrierDetect = 0x80;
inline constexpr std::uint8_t kRingIndicator = 0x40;
inline constexpr std::uint8_t kDataSetReady = 0x20;
inline constexpr std::uint8_t kClearToSend = 0x10;

// Appends line data with every 0xFF doubled.
void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count);

// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
void AppendComPortCommand(std::vector<std::uint8_t>& out, std::uint8_t command,
                          const std::vector<std::uint8_t>& value);

// What the client offers at once: binary both ways, no go-ahead, and COM-port control.
std::vector<std::uint8_t> ClientGreeting();

class Decoder {
  public:
    enum class ComPort : std::uint8_t { kUnknown, kAccepted, kRefused };

    // The client is taken to have sent ClientGreeting() first.
    Decoder();

    // Splits bytes from the server: line data is appended to `data`; answers the client owes
    // the server's option requests collect for TakeReplies().
    void Feed(const std::uint8_t* in, std::size_t count, std::vector<std::uint8_t>& data);
    std::vector<std::uint8_t> TakeReplies();

    ComPort ComPortState() const { return comPort_; }
    // The last modem state the server notified; none before the first.
    std::optional<std::uint8_t> ModemState() const { return modemState_; }

  private:
    enum class State : std::uint8_t { kData, kAfterIac, kVerb, kSub, kSubIac };
    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void EndSub();
    void Reply(std::uint8_t verb, std::uint8_t option);

    State state_ = State::kData;
    std::uint8_t verb_ = 0;
    std::vector<std::uint8_t> sub_;
    std::vector<std::uint8_t> replies_;
    // Per option: whether it is on at the client's side and at the server's.
    std::array<bool, 256> ourSide_{};
    std::array<bool, 256> theirSide_{};
    ComPort comPort_ = ComPort::kUnknown;
    std::optional<std::uint8_t> modemState_;
};

}  // namespace platform::telnet
