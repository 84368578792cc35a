// Link layer of the heat calculator: read and write frames, link recovery, the command mailbox.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"
#include "platform/serial_port.h"
#include "protocol/directory.h"
#include "protocol/frame_link.h"

namespace protocol {

inline constexpr std::uint16_t kCommandArea = 0x1000;
inline constexpr std::uint16_t kAnswerArea = 0x1080;

// Called after every exchange attempt; false stops the reading.
using ExchangeCallback = std::function<bool(bool ok)>;

// The fixed waits of the link. The defaults are the device's; tests shorten them.
struct LinkWaits {
    std::uint32_t recoveryWaitMs = 200;  // before draining in link recovery
    std::uint32_t drainGapMs = 10;       // after each drained byte
    std::uint32_t mailboxPollMs = 500;   // between reads of the answer area
    // Between mailbox writes; unset: the object's CommandPause().
    std::optional<std::uint32_t> commandPauseMs;
};

class DataFile;
class ArchiveProgress;

using RecordTag = std::array<std::uint8_t, 5>;

// One element of a field: kind 1 = byte, 2 = 16-bit word.
struct ElementValue {
    int kind = 0;
    unsigned value = 0;
};

// The device clock as the time command answers it: BCD bytes and their plain values.
struct DeviceClock {
    std::array<std::uint8_t, 6> bcd{};  // second, minute, hour, day, month, year
    int second = 0;
    int minute = 0;
    int hour = 0;
    int day = 0;
    int month = 0;
    int year = 0;  // two digits
    bool ValidDate() const;
};

class CTV540Base {
  public:
    CTV540Base(std::uint8_t abonentByte, int attemptCount, std::uint32_t pauseMs);
    virtual ~CTV540Base() = default;
    CTV540Base(const CTV540Base&) = delete;
    CTV540Base& operator=(const CTV540Base&) = delete;

    virtual bool ReadMemory(std::uint16_t address, unsigned count, std::uint8_t* destination) = 0;
    virtual bool WriteMemory(std::uint16_t address, unsigned count, const std::uint8_t* source,
                             int attemptCount) = 0;
    // The command mailbox: true when the answer area held a non-zero status; the answer, status
    // byte first, is in `answer`.
    virtual bool ExecuteCommand(unsigned commandLength, unsigned answerLength,
                                const std::uint8_t* command, std::uint8_t* answer,
                                int attemptCount);
    virtual std::uint32_t CommandPause() const { return 50; }

    void SetWaits(const LinkWaits& waits) { waits_ = waits; }
    const LinkWaits& Waits() const { return waits_; }

    std::uint8_t abonent;
    int attempts;
    std::uint32_t pause;
    bool textIsWindows = false;

  protected:
    LinkWaits waits_;
};

class CTV540 : public CTV540Base {
  public:
    // The link (a serial line or a modem call) stays its owner's and must outlive the object.
    CTV540(std::uint8_t abonentByte, FrameLink& link, int attemptCount, std::uint32_t pauseMs);

    bool ReadMemory(std::uint16_t address, unsigned count, std::uint8_t* destination) override;
    bool WriteMemory(std::uint16_t address, unsigned count, const std::uint8_t* source,
                     int attemptCount) override;
    virtual unsigned HourRecordSize() const { return 92; }

    // Directory and basic queries.
    bool FindDataField(std::uint16_t root, std::uint8_t group, std::uint8_t subgroup,
                       std::uint8_t field, FieldLocation& location, unsigned maxGroups = 255,
                       unsigned maxEntries = 255);
    bool ReadFieldElement(std::uint16_t root, std::uint8_t group, std::uint8_t subgroup,
                          std::uint8_t field, unsigned index, ElementValue& value);
    // Lines "A/B/C/D/E=V1,V2,..." (Windows-1251); 0 when no line matches.
    int DetectVersion(const std::vector<std::string>& versionList);
    // Reads a field and appends it as one record with `tag`; raises the field's errors.
    void StoreDataField(DataFile& file, std::uint16_t root, std::uint8_t group,
                        std::uint8_t subgroup, std::uint8_t field, const RecordTag& tag,
                        bool convertNumbers, bool convertText);
    void SelectTextEncoding(const platform::IniFile& settings, int version,
                            std::string_view section);
    // Command 4: -1 when the command got no answer, else the status byte; `clock` holds the
    // answer when the status is 1.
    int ReadClock(DeviceClock& clock);
    // ReadClock with the errors of a reading raised; `version60` selects the status-2 text.
    DeviceClock ReadClockOrRaise(bool version60);

    // Archives.
    virtual void ReadHourArchive(DataFile& file, ArchiveProgress& progress);
    // The 180-day archive of a version-53 device; false when the operator stopped during the
    // parameter steps.
    bool Read180DayArchive(DataFile& file, ArchiveProgress& progress);

    // One read exchange without retries or recovery (count of at most 16); data discarded.
    bool ProbeRead(std::uint16_t address, unsigned count);
    // Brings the device's receiver and the port back into step; raises "Ошибка связи." or
    // "Соединение не установлено." when it cannot.
    void RecoverLink();
    // Marks the link connected on success and asks the callback whether to go on.
    void NotifyExchange(bool ok);
    // Win32 parity code: 3 MARK, 4 SPACE. Nothing to do on a modem call.
    bool SetLineParity(platform::Parity parity) { return link_.SetLineParity(parity); }

    bool connected() const { return connected_; }
    FrameLink& Link() { return link_; }

    ExchangeCallback exchangeCallback;

  protected:
    bool ReadOnce(std::uint16_t address, unsigned count, std::uint8_t* destination);
    bool WriteOnce(std::uint16_t address, unsigned count, const std::uint8_t* source);
    void DrainInput();
    // Runs one exchange up to attemptCount times, with recovery after each failed one.
    bool WithRetries(int attemptCount, const std::function<bool()>& exchange);

    FrameLink& link_;
    bool connected_ = false;
};

// Opens "COMn" at `baudRate` with the device's line settings and time-outs; nullptr on failure.
// A network port with fixed line settings (tcp://) cannot switch parity per frame: refused with
// errno EPROTONOSUPPORT.
// What an operator is told about such a port (1251), after "Соединение не установлено.".
std::string FixedLinePortText(std::string_view portName);

std::unique_ptr<platform::SerialPort> OpenDevicePort(std::string_view portName,
                                                     std::uint32_t baudRate,
                                                     platform::DeviceControl& deviceControl);

// The device's line: 8 data bits, MARK parity (switched per frame), parity checking, one stop
// bit, DTR and RTS on, no flow control; abort-on-error is left to the caller.
void ApplyLineSettings(platform::DeviceControl& dcb, std::uint32_t baudRate);

// Base time-out T for a baud rate.
std::uint32_t BaseTimeoutForBaud(std::uint32_t baudRate);
// Read interval T, read and write multipliers T/10, constants T.
platform::CommTimeouts TimeoutsFromBase(long t);

}  // namespace protocol
