// Serial ports with the Win32 semantics the protocol code was written against:
// "COMn" names, exclusive open, a device-control block, and read/write time-outs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct termios;

namespace platform {

// Parity codes as Win32 numbers them; the protocol code passes 3 and 4 literally.
enum Parity : std::uint8_t {
    kNoParity = 0,
    kOddParity = 1,
    kEvenParity = 2,
    kMarkParity = 3,
    kSpaceParity = 4,
};

enum LineControl : std::uint8_t {
    kLineDisable = 0,
    kLineEnable = 1,
    kLineHandshake = 2,  // RTS: 2 = handshake, 3 = toggle; both behave as "enable" here
};

enum StopBits : std::uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// The fields of the Win32 DCB that the programs set. Only the parity byte changes between
// frames; the rest is written once when a port is opened.
struct DeviceControl {
    std::uint32_t baudRate = 9600;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = kLineEnable;
    bool fDsrSensitivity = false;
    bool fOutX = false;
    bool fInX = false;
    bool fNull = false;
    std::uint8_t fRtsControl = kLineEnable;
    bool fAbortOnError = false;
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = kNoParity;
    std::uint8_t stopBits = kOneStopBit;
    char xonChar = 0;
    char xoffChar = 0;
};

// Win32 COMMTIMEOUTS, in milliseconds. kMaxDword has its Win32 meaning for the read interval.
struct CommTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;
};
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// Network serial ports add their own delays (the server gathers bytes before it sends them on,
// the network adds its latency): this is added to every non-zero read interval, read total
// and write total time-out of such a port.
inline constexpr std::uint32_t kNetworkLatencyAllowanceMs = 300;

// "COM3" -> 3; anything that is not "COM" followed by 1..8 gives nullopt (case-insensitive).
std::optional<int> ComPortNumber(std::string_view name);

// The device behind "COMn": $CALVIX_COMn when set and not empty, else /dev/ttyS{n-1}. Besides a
// device path it may name a network serial port: rfc2217://HOST:PORT (Telnet COM-port control)
// or tcp://HOST:PORT (a raw socket; the line's settings are fixed on the server).
std::string ComPortDevicePath(int number);

// Writes the fields of `dcb` that termios holds into `settings` (raw mode kept). False, with
// `settings` untouched, when the block asks for what the line cannot do.
bool ToTermios(const DeviceControl& dcb, termios& settings);

// The even or odd parity under which `byte` (its data bits only) goes out with the parity bit
// set or clear: how MARK/SPACE is sent on drivers that lack it.
Parity EmulatedParityFor(std::uint8_t byte, bool parityBitSet);

// Undoes the kernel's marking of received bytes (PARMRK): "\377\377" is 0xFF, and "\377\0" X
// is X received with a parity or framing error (X = 0 for a break). The byte is kept, as Win32
// keeps it when no error character is set.
class MarkedInputDecoder {
  public:
    // Takes one byte as read; true with `out` set when it completes a data byte.
    bool Feed(std::uint8_t in, std::uint8_t& out);
    void Reset() { state_ = kPlain; }

  private:
    enum State : std::uint8_t { kPlain, kAfterMark, kAfterMarkZero };
    State state_ = kPlain;
};

class PortChannel;

class SerialPort {
  public:
    // Opens "COM1".."COM8" (or, for tests and tools, an absolute device path or a network port's
    // URL) for reading and writing, with no sharing: TIOCEXCL plus an exclusive flock on a
    // local line. Returns nullptr on failure and leaves errno set.
    [[nodiscard]] static std::unique_ptr<SerialPort> Open(std::string_view name);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // GetCommState / SetCommState. Setting applies after queued output has drained
    // (TCSADRAIN), so a parity change never catches the tail of the previous bytes.
    [[nodiscard]] bool GetCommState(DeviceControl& dcb) const;
    [[nodiscard]] bool SetCommState(const DeviceControl& dcb);
    [[nodiscard]] bool SetCommTimeouts(const CommTimeouts& timeouts);
    CommTimeouts GetCommTimeouts() const { return timeouts_; }

    // ReadFile: returns false only on an I/O error; `done` says how many bytes came before the
    // count was reached or a time-out ran out (Win32 rules: total = multiplier * n + constant,
    // interval = longest gap between two bytes once the first byte came; zeros disable them).
    [[nodiscard]] bool Read(std::uint8_t* buffer, std::size_t count, std::size_t& done);
    // WriteFile: false on an I/O error or when the total write time-out ran out.
    [[nodiscard]] bool Write(const std::uint8_t* buffer, std::size_t count, std::size_t& done);
    // What has arrived, without waiting: `done` bytes of at most `count`. False on an I/O error
    // or a line that is gone. For loops that poll NativeHandle() themselves.
    [[nodiscard]] bool ReadArrived(std::uint8_t* buffer, std::size_t count, std::size_t& done);

    // PurgeComm of the input: drops bytes received and not yet read.
    void PurgeInput();

    // The modem status lines as TIOCM_* bits; none on a line without them (a pseudo-terminal, a
    // raw network port, a network port whose server has not told them yet).
    std::optional<int> ModemLines();
    // DTR alone, for hanging up a modem; false where the line cannot do it.
    bool SetDtr(bool on);

    // False on a network port whose line settings are fixed on the server: per-frame parity
    // changes cannot reach the device there.
    bool SwitchesParity() const;
    // True when MARK/SPACE parity did not stick on this driver and bytes are sent one by one
    // with even or odd parity chosen to put the same parity bit on the wire.
    bool UsesParityEmulation() const;

    const std::string& DevicePath() const { return path_; }
    // The descriptor to poll for incoming bytes.
    int NativeHandle() const;

  private:
    SerialPort(std::unique_ptr<PortChannel> channel, std::string path);
    CommTimeouts EffectiveTimeouts() const;

    std::unique_ptr<PortChannel> channel_;
    std::string path_;
    CommTimeouts timeouts_{};
};

}  // namespace platform
