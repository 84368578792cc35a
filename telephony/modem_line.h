// One open line: a Hayes modem on a serial port, driven by a worker thread that owns every read
// of the port. It turns result codes into call states, counts rings, hangs up (DTR first, the
// escape where DTR does nothing), and in data mode passes the bytes to the call's data channel
// while it watches for the carrier going away. All messages of a line come from its worker, in
// order.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/event.h"
#include "platform/serial_port.h"
#include "telephony/data_channel.h"
#include "telephony/line_api.h"
#include "telephony/line_timings.h"
#include "telephony/message_queue.h"
#include "telephony/modem_config.h"
#include "telephony/result_codes.h"

namespace telephony {

// The write time-outs of AT commands.
platform::CommTimeouts CommandWriteTimeouts();

class ModemLine : public std::enable_shared_from_this<ModemLine> {
  public:
    // Opens the port and initialises the modem (ATZ, then echo off, verbose results, DCD and
    // DTR behaviour, no auto-answer, then the modem's own additions). nullptr with `error` and
    // `fault` set when the port cannot be opened or the modem does not answer OK.
    static std::shared_ptr<ModemLine> Open(std::uint32_t handle, const ModemConfig& config,
                                           std::shared_ptr<MessageQueue> queue, std::int32_t& error,
                                           OpenFault& fault);
    ~ModemLine();
    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    // Hangs up a call in progress, stops the worker and closes the port. Idempotent.
    void Close();

    std::uint32_t Handle() const { return handle_; }
    const std::string& PortName() const { return config_.portName; }

    std::int32_t MakeCall(std::uint32_t requestId, std::uint32_t& call, std::string number,
                          const CallParams& params);
    std::int32_t Answer(std::uint32_t call, std::uint32_t requestId);
    std::int32_t Drop(std::uint32_t call, std::uint32_t requestId);
    std::int32_t Deallocate(std::uint32_t call);
    bool HasCall(std::uint32_t call) const;
    std::int32_t CallInfo(std::uint32_t call, LineCallInfo& info) const;
    // The data channel of a connected call; nullptr otherwise.
    std::shared_ptr<DataChannel> DataOf(std::uint32_t call) const;
    void GetStatusMessages(std::uint32_t& lineStates, std::uint32_t& addressStates) const;
    void SetStatusMessages(std::uint32_t lineStates, std::uint32_t addressStates);

    // Only for Open; use Open.
    ModemLine(std::uint32_t handle, const ModemConfig& config, std::shared_ptr<MessageQueue> queue,
              std::unique_ptr<platform::SerialPort> port);

  private:
    using Clock = std::chrono::steady_clock;

    enum class Mode {
        kCommand,      // on hook, or a call disconnected or offered
        kDialSetup,    // ATS7 sent before the dial, waiting for its result
        kDialing,      // ATD sent
        kAnswering,    // ATA sent
        kAborting,     // a dial or answer cut short, waiting for its result
        kData,         // connected: bytes go to the data channel
        kDtrDrop,      // DTR held low to hang up
        kDtrCheck,     // DTR up again, "AT" sent: OK means on hook
        kEscapeGuard,  // silence before "+++"
        kEscapeWait,   // "+++" sent, waiting for OK
        kHangingUp,    // ATH sent
        kDead,         // the port failed; the line is closed
    };

    struct Call {
        std::uint32_t handle = 0;
        std::uint32_t state = 0;  // 0 until the worker has dialled
        std::uint32_t rate = 0;
        bool incoming = false;
        CallParams params;
        std::shared_ptr<DataChannel> data;
    };

    struct Command {
        enum class Kind { kDial, kAnswer, kDrop, kHangUpSilently };
        Kind kind = Kind::kDial;
        std::uint32_t request = 0;
        std::uint32_t call = 0;
        std::string number;
    };

    enum class Reply { kOk, kError, kNone, kPortFailed };

    // Before the worker starts.
    OpenFault Initialise();
    OpenFault RunInitSequence();
    Reply RunInitCommand(const std::string& command, std::chrono::milliseconds wait);
    void DropDtrNow();
    // DTR by termios (B0 lowers it, the saved speed raises it) and by TIOCMBIS/TIOCMBIC where
    // the port has modem lines. False when the port refuses.
    bool SetDtr(bool on);
    std::optional<int> ModemLines() const;

    void Run();
    void OnBytes(const std::uint8_t* bytes, std::size_t count);
    void OnLine(const std::string& line);
    void OnRing();
    void OnDeadline();
    void RunCommands();
    bool CanRun(const Command& command) const;
    void Execute(const Command& command);
    void Connected(std::uint32_t rate);
    void Failed(std::uint32_t disconnectMode);
    void CarrierLost();
    void StartHangUp();
    void StartEscape();
    void SendDial();
    void StartAbort();
    void HangUpDone();
    void LineDied();
    void CheckCarrier();
    bool WriteCommand(const std::string& command);
    bool WriteRaw(const std::string& bytes);
    int WriteData(const std::uint8_t* bytes, std::size_t count, std::size_t& done,
                  const platform::CommTimeouts& timeouts);
    void Post(std::uint32_t device, std::uint32_t messageId, std::uint32_t param1,
              std::uint32_t param2 = 0, std::uint32_t param3 = 0);
    bool IsCurrentLocked(std::uint32_t call) const;
    void SetDeadline(Clock::duration after) { deadline_ = Clock::now() + after; }

    const std::uint32_t handle_;
    const ModemConfig config_;
    const std::shared_ptr<MessageQueue> queue_;
    const LineTimings timings_;
    int portFd_ = -1;
    platform::Event wake_;
    std::thread worker_;

    // The port: the worker reads its descriptor directly; writes and closing go through
    // writeMutex_ so that data writes and AT commands never interleave.
    std::mutex writeMutex_;
    std::unique_ptr<platform::SerialPort> port_;

    mutable std::mutex mutex_;  // guards the fields below
    std::optional<Call> call_;
    std::deque<Command> commands_;
    bool stopRequested_ = false;
    bool closed_ = false;
    bool dead_ = false;
    bool ignoreRings_ = false;  // an offered call was refused: its further RINGs are ignored
    std::uint32_t lineStates_ = 0;
    std::uint32_t addressStates_ = 0;

    // The worker's own state.
    Mode mode_ = Mode::kCommand;
    std::optional<Clock::time_point> deadline_;
    LineAssembler assembler_;
    CarrierLossScanner scanner_;
    bool skipLineFeed_ = false;  // the LF after "CONNECT ...\r" is not data
    bool watchCarrier_ = false;  // DCD was on at CONNECT, so its fall means carrier loss
    std::uint32_t ringCount_ = 0;
    std::uint32_t carrierRate_ = 0;  // from "CARRIER n" before the CONNECT
    Command dial_;                   // the dial waiting for its ATS7
    std::uint32_t pendingDrop_ = 0;  // request id of the drop under way
    std::uint32_t dropCall_ = 0;
};

}  // namespace telephony
