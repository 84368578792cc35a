// Opening a line: the port, its settings, and a modem brought into a known state whatever its
// stored profile holds (numeric or no result codes, echo, a slow reset), or left online by an
// earlier program. And the port's modem lines: DTR to hang up, DCD to see the carrier go.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/read_policy.h"
#include "telephony/modem_line.h"

namespace telephony {
namespace {

using Clock = std::chrono::steady_clock;

// Echo off, verbose results, results on: what every later step reads.
constexpr const char* kResultsCommand = "ATE0V1Q0";
// DCD follows the carrier, a DTR drop hangs up, no automatic answer.
constexpr const char* kLineCommand = "AT&C1&D2S0=0";
// Extended results (BUSY, NO DIALTONE) when no additions are configured; a modem that does not
// know X4 is still usable, it only reports less.
constexpr const char* kDefaultAddition = "ATX4";

OpenFault FaultOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return OpenFault::kPortMissing;
        case EACCES:
        case EPERM:
            return OpenFault::kPortDenied;
        case EBUSY:
            return OpenFault::kPortBusy;
        default:
            return OpenFault::kPortSettings;
    }
}

std::int32_t ErrorOf(OpenFault fault) {
    switch (fault) {
        case OpenFault::kPortBusy:
            return kErrAllocated;
        case OpenFault::kPortMissing:
            return kErrNoDevice;
        case OpenFault::kNoAnswer:
            return kErrResourceUnavail;
        default:
            return kErrOperationFailed;
    }
}

}  // namespace

platform::CommTimeouts CommandWriteTimeouts() {
    platform::CommTimeouts timeouts;
    timeouts.writeTotalTimeoutMultiplier = 20;
    timeouts.writeTotalTimeoutConstant = 2000;
    return timeouts;
}

std::shared_ptr<ModemLine> ModemLine::Open(std::uint32_t handle, const ModemConfig& config,
                                           std::shared_ptr<MessageQueue> queue, std::int32_t& error,
                                           OpenFault& fault) {
    std::unique_ptr<platform::SerialPort> port = platform::SerialPort::Open(config.portName);
    if (!port) {
        fault = FaultOfErrno(errno);
        error = ErrorOf(fault);
        return nullptr;
    }
    platform::DeviceControl dcb;
    if (!port->GetCommState(dcb)) {
        fault = OpenFault::kPortSettings;
        error = ErrorOf(fault);
        return nullptr;
    }
    dcb.baudRate = config.dteRate;
    dcb.byteSize = 8;
    dcb.parity = platform::kNoParity;
    dcb.stopBits = platform::kOneStopBit;
    dcb.fParity = false;
    dcb.fOutxCtsFlow = config.rtsCts;
    dcb.fOutX = false;
    dcb.fInX = false;
    dcb.fDtrControl = platform::kLineEnable;
    dcb.fRtsControl = config.rtsCts ? platform::kLineHandshake : platform::kLineEnable;
    if (!port->SetCommState(dcb) || !port->SetCommTimeouts(CommandWriteTimeouts())) {
        fault = OpenFault::kPortSettings;
        error = ErrorOf(fault);
        return nullptr;
    }
    auto line = std::make_shared<ModemLine>(handle, config, std::move(queue), std::move(port));
    fault = line->Initialise();
    if (fault != OpenFault::kNone) {
        error = ErrorOf(fault);
        return nullptr;
    }
    line->worker_ = std::thread([raw = line.get()] { raw->Run(); });
    error = 0;
    return line;
}

std::optional<int> ModemLine::ModemLines() const {
    if (timings_.modemLines) {
        return timings_.modemLines(portFd_);
    }
    return port_->ModemLines();
}

bool ModemLine::SetDtr(bool on) {
    std::lock_guard lock(writeMutex_);
    return port_ && port_->SetDtr(on);
}

// DTR low for a while: a modem (&D2) ends its call and goes back to command mode.
void ModemLine::DropDtrNow() {
    if (!SetDtr(false)) {
        return;
    }
    std::this_thread::sleep_for(timings_.dtrDrop);
    SetDtr(true);
}

ModemLine::Reply ModemLine::RunInitCommand(const std::string& command,
                                           std::chrono::milliseconds wait) {
    assembler_.Clear();
    if (!WriteCommand(command)) {
        return Reply::kPortFailed;
    }
    const Clock::time_point deadline = Clock::now() + wait;
    std::uint8_t buffer[256];
    for (;;) {
        pollfd entry{portFd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, platform::PollTimeoutMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return Reply::kPortFailed;
        }
        if (ready == 0) {
            return Reply::kNone;
        }
        std::size_t got = 0;
        if (!port_->ReadArrived(buffer, sizeof buffer, got)) {
            return Reply::kPortFailed;  // hung up or failed
        }
        for (std::size_t i = 0; i < got; ++i) {
            const std::optional<std::string> text = assembler_.Feed(buffer[i]);
            const ResultCode code = text ? ParseResultLine(*text).code : ResultCode::kNone;
            if (code == ResultCode::kOk) {
                return Reply::kOk;
            }
            if (code == ResultCode::kError) {
                return Reply::kError;
            }
        }
    }
}

OpenFault ModemLine::RunInitSequence() {
    {
        std::lock_guard lock(writeMutex_);
        port_->PurgeInput();
    }
    // The reset's answer is not required: a profile with Q1 gives none. A slow one is waited for.
    if (RunInitCommand("ATZ", timings_.resetReply) == Reply::kPortFailed) {
        return OpenFault::kNoAnswer;
    }
    Reply reply = Reply::kNone;
    for (int attempt = 0; attempt < std::max(1, timings_.probeAttempts); ++attempt) {
        reply = RunInitCommand(kResultsCommand, timings_.commandReply);
        if (reply != Reply::kNone) {
            break;
        }
    }
    if (reply == Reply::kOk) {
        reply = RunInitCommand(kLineCommand, timings_.commandReply);
    }
    if (reply == Reply::kOk && config_.init.empty()) {
        RunInitCommand(kDefaultAddition, timings_.commandReply);
    }
    for (std::size_t i = 0; reply == Reply::kOk && i < config_.init.size(); ++i) {
        reply = RunInitCommand("AT" + config_.init[i], timings_.commandReply);
    }
    assembler_.Clear();
    switch (reply) {
        case Reply::kOk:
            return OpenFault::kNone;
        case Reply::kError:
            return OpenFault::kInitRefused;
        default:
            return OpenFault::kNoAnswer;
    }
}

OpenFault ModemLine::Initialise() {
    // A carrier at open is a call some earlier program left up.
    const std::optional<int> lines = ModemLines();
    if (lines && (*lines & TIOCM_CAR) != 0) {
        DropDtrNow();
    }
    OpenFault fault = RunInitSequence();
    if (fault == OpenFault::kNoAnswer) {
        // Perhaps online, taking our commands for data: hang up by DTR and try once more.
        DropDtrNow();
        fault = RunInitSequence();
    }
    return fault;
}

// ---- the worker's use of the modem lines ----

void ModemLine::CheckCarrier() {
    const std::optional<int> lines = ModemLines();
    if (!lines || (*lines & TIOCM_CAR) != 0) {
        return;
    }
    if (mode_ == Mode::kData) {
        CarrierLost();
    } else {
        HangUpDone();  // the far end went first; the modem is on hook already
    }
}

// DTR first: every modem set up with &D2 hangs up on it, also one that ignores "+++".
void ModemLine::StartHangUp() {
    {
        std::lock_guard lock(mutex_);
        if (call_ && call_->data) {
            call_->data->Break();
        }
    }
    if (!SetDtr(false)) {
        StartEscape();
        return;
    }
    assembler_.Clear();
    mode_ = Mode::kDtrDrop;
    SetDeadline(timings_.dtrDrop);
}

}  // namespace telephony
