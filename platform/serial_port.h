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

// "COM3" -> 3; anything that is not "COM" followed by 1..8 gives nullopt (case-insensitive).
std::optional<int> ComPortNumber(std::string_view name);

// The device behind "COMn": $CALVIX_COMn when set and not empty, else /dev/ttyS{n-1}.
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

class SerialPort {
  public:
    // Opens "COM1".."COM8" (or, for tests and tools, an absolute device path) for reading and
    // writing, with no sharing: TIOCEXCL plus an exclusive flock. Returns nullptr on failure and
    // leaves errno set.
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

    // PurgeComm of the input: drops bytes received and not yet read.
    void PurgeInput();

    // True when MARK/SPACE parity did not stick on this driver and bytes are sent one by one
    // with even or odd parity chosen to put the same parity bit on the wire.
    bool UsesParityEmulation() const { return parityEmulation_; }

    const std::string& DevicePath() const { return path_; }
    int NativeHandle() const { return fd_; }

  private:
    SerialPort(int fd, std::string path);
    bool WriteEmulatedParity(const std::uint8_t* buffer, std::size_t count, std::size_t& done);

    int fd_ = -1;
    std::string path_;
    DeviceControl dcb_{};
    CommTimeouts timeouts_{};
    bool parityEmulation_ = false;
    std::uint8_t wireParity_ = kNoParity;  // even or odd, as termios holds it while emulating
    bool markedInput_ = false;             // PARMRK is on: reads go through markDecoder_
    MarkedInputDecoder markDecoder_;
    std::unique_ptr<termios> original_;  // restored at close
};

}  // namespace platform
