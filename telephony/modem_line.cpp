#include "telephony/modem_line.h"
#include "platform/read_policy.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace telephony {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

ModemLine::ModemLine(std::uint32_t handle, const ModemConfig& config,
                     std::shared_ptr<MessageQueue> queue,
                     std::unique_ptr<platform::SerialPort> port)
    : handle_(handle),
      config_(config),
      queue_(std::move(queue)),
      timings_(GetLineTimings()),
      portFd_(port->NativeHandle()),
      port_(std::move(port)) {}

ModemLine::~ModemLine() {
    Close();
}

void ModemLine::Close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        stopRequested_ = true;
    }
    wake_.Set();
    if (worker_.joinable()) {
        worker_.join();
    }
    {
        std::lock_guard lock(mutex_);
        if (call_ && call_->data) {
            call_->data->Break();
        }
        dead_ = true;
    }
    std::lock_guard lock(writeMutex_);
    port_.reset();
    portFd_ = -1;
}

// ---- requests from the application ----

bool ModemLine::IsCurrentLocked(std::uint32_t call) const {
    return call != 0 && call_ && call_->handle == call;
}

std::int32_t ModemLine::MakeCall(std::uint32_t requestId, std::uint32_t& call, std::string number,
                                 const CallParams& params) {
    {
        std::lock_guard lock(mutex_);
        if (dead_ || stopRequested_) {
            return kErrInvalLineHandle;
        }
        if (call_) {
            return kErrCallUnavail;
        }
        if (number.empty()) {
            return kErrInvalParam;
        }
        Call fresh;
        fresh.handle = NewHandle();
        fresh.params = params;
        call_ = fresh;
        call = fresh.handle;
        commands_.push_back({Command::Kind::kDial, requestId, fresh.handle, std::move(number)});
    }
    wake_.Set();
    return static_cast<std::int32_t>(requestId);
}

std::int32_t ModemLine::Answer(std::uint32_t call, std::uint32_t requestId) {
    {
        std::lock_guard lock(mutex_);
        if (!IsCurrentLocked(call)) {
            return kErrInvalCallHandle;
        }
        if (!call_->incoming || call_->state != kCallStateOffering) {
            return kErrInvalCallState;
        }
        commands_.push_back({Command::Kind::kAnswer, requestId, call, {}});
    }
    wake_.Set();
    return static_cast<std::int32_t>(requestId);
}

std::int32_t ModemLine::Drop(std::uint32_t call, std::uint32_t requestId) {
    {
        std::lock_guard lock(mutex_);
        if (!IsCurrentLocked(call)) {
            return kErrInvalCallHandle;
        }
        commands_.push_back({Command::Kind::kDrop, requestId, call, {}});
    }
    wake_.Set();
    return static_cast<std::int32_t>(requestId);
}

std::int32_t ModemLine::Deallocate(std::uint32_t call) {
    {
        std::lock_guard lock(mutex_);
        if (!IsCurrentLocked(call)) {
            return kErrInvalCallHandle;
        }
        if (call_->data) {
            call_->data->Break();
        }
        if (call_->incoming && call_->state == kCallStateOffering) {
            ignoreRings_ = true;
        }
        call_.reset();
        commands_.push_back({Command::Kind::kHangUpSilently, 0, call, {}});
    }
    wake_.Set();
    return 0;
}

bool ModemLine::HasCall(std::uint32_t call) const {
    std::lock_guard lock(mutex_);
    return IsCurrentLocked(call);
}

std::int32_t ModemLine::CallInfo(std::uint32_t call, LineCallInfo& info) const {
    std::lock_guard lock(mutex_);
    if (!IsCurrentLocked(call)) {
        return kErrInvalCallHandle;
    }
    info.rate = call_->rate;
    info.mediaMode = kMediaModeDataModem;
    info.incoming = call_->incoming;
    info.params = call_->params;
    return 0;
}

std::shared_ptr<DataChannel> ModemLine::DataOf(std::uint32_t call) const {
    std::lock_guard lock(mutex_);
    if (!IsCurrentLocked(call) || call_->state != kCallStateConnected || !call_->data ||
        call_->data->Broken()) {
        return nullptr;
    }
    return call_->data;
}

void ModemLine::GetStatusMessages(std::uint32_t& lineStates, std::uint32_t& addressStates) const {
    std::lock_guard lock(mutex_);
    lineStates = lineStates_;
    addressStates = addressStates_;
}

void ModemLine::SetStatusMessages(std::uint32_t lineStates, std::uint32_t addressStates) {
    std::lock_guard lock(mutex_);
    lineStates_ = lineStates;
    addressStates_ = addressStates;
}

// ---- port access ----

bool ModemLine::WriteRaw(const std::string& bytes) {
    std::lock_guard lock(writeMutex_);
    if (!port_) {
        return false;
    }
    std::size_t done = 0;
    return port_->SetCommTimeouts(CommandWriteTimeouts()) &&
           port_->Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), done) &&
           done == bytes.size();
}

bool ModemLine::WriteCommand(const std::string& command) {
    return WriteRaw(command + "\r");
}

int ModemLine::WriteData(const std::uint8_t* bytes, std::size_t count, std::size_t& done,
                         const platform::CommTimeouts& timeouts) {
    std::lock_guard lock(writeMutex_);
    done = 0;
    if (!port_) {
        return EIO;
    }
    if (!port_->SetCommTimeouts(timeouts)) {
        return EINVAL;
    }
    if (port_->Write(bytes, count, done)) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

void ModemLine::Post(std::uint32_t device, std::uint32_t messageId, std::uint32_t param1,
                     std::uint32_t param2, std::uint32_t param3) {
    queue_->Post({device, messageId, param1, param2, param3});
}

// ---- the worker ----

void ModemLine::Run() {
    std::uint8_t buffer[512];
    for (;;) {
        bool stop = false;
        {
            std::lock_guard lock(mutex_);
            stop = stopRequested_;
        }
        if (stop) {
            // A call still up is hung up first; the sequence has deadlines of its own.
            if (mode_ == Mode::kData) {
                StartHangUp();
            } else if (mode_ == Mode::kDialing || mode_ == Mode::kAnswering) {
                StartAbort();
            } else if (mode_ == Mode::kCommand || mode_ == Mode::kDead) {
                return;
            }
        }
        std::optional<Clock::time_point> wakeAt = deadline_;
        const bool watching =
            watchCarrier_ && (mode_ == Mode::kData || mode_ == Mode::kEscapeGuard);
        if (watching) {
            const Clock::time_point poll = Clock::now() + timings_.carrierPoll;
            wakeAt = wakeAt ? std::min(*wakeAt, poll) : poll;
        }
        pollfd fds[2] = {{wake_.Fd(), POLLIN, 0}, {portFd_, POLLIN, 0}};
        // A request handled after the line died may have left kDead; the port stays closed.
        const nfds_t count = mode_ == Mode::kDead || !port_ ? 1 : 2;
        const int ready = ::poll(fds, count, platform::PollTimeoutMs(wakeAt));
        if (ready < 0 && errno != EINTR) {
            LineDied();
            continue;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            wake_.Take();
        }
        if (ready > 0 && count == 2 && fds[1].revents != 0) {
            // A network port may hold more than one buffer's worth once its socket is read.
            std::size_t got = 0;
            bool alive = true;
            do {
                alive = port_->ReadArrived(buffer, sizeof buffer, got);
                if (got > 0) {
                    OnBytes(buffer, got);
                }
                // A reply handled above may have found the line dead and closed the port.
            } while (alive && got == sizeof buffer && port_);
            if (!alive) {
                LineDied();
            }
        }
        RunCommands();
        if (deadline_ && Clock::now() >= *deadline_) {
            deadline_.reset();
            OnDeadline();
        }
        if (watchCarrier_ && (mode_ == Mode::kData || mode_ == Mode::kEscapeGuard)) {
            CheckCarrier();
        }
    }
}

void ModemLine::OnBytes(const std::uint8_t* bytes, std::size_t count) {
    std::vector<std::uint8_t> data;
    auto flush = [&] {
        if (data.empty()) {
            return;
        }
        std::shared_ptr<DataChannel> channel;
        {
            std::lock_guard lock(mutex_);
            if (call_) {
                channel = call_->data;
            }
        }
        if (channel) {
            channel->Deliver(data.data(), data.size());
        }
        data.clear();
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (mode_ == Mode::kData || mode_ == Mode::kEscapeGuard) {
            if (skipLineFeed_) {
                skipLineFeed_ = false;
                if (byte == '\n') {
                    continue;
                }
            }
            if (mode_ == Mode::kData) {
                data.push_back(byte);
            }
            // Where DCD can be asked, it alone says the carrier is gone: the text may be data.
            if (!watchCarrier_ && scanner_.Feed(byte)) {
                flush();
                if (mode_ == Mode::kData) {
                    CarrierLost();
                } else {
                    HangUpDone();  // the far end went first; the modem is on hook already
                }
            }
            continue;
        }
        if (mode_ == Mode::kDead) {
            return;
        }
        if (const std::optional<std::string> text = assembler_.Feed(byte)) {
            OnLine(*text);
        }
    }
    flush();
}

void ModemLine::OnLine(const std::string& line) {
    const Result result = ParseResultLine(line);
    switch (mode_) {
        case Mode::kCommand:
            if (result.code == ResultCode::kRing) {
                OnRing();
            }
            return;
        case Mode::kDialSetup:
            if (result.code == ResultCode::kOk || result.code == ResultCode::kError) {
                SendDial();  // a modem that refuses S7 keeps its own wait
            }
            return;
        case Mode::kDtrCheck:
            if (result.code == ResultCode::kOk) {
                HangUpDone();
            }
            return;
        case Mode::kDtrDrop:
            return;
        case Mode::kDialing:
        case Mode::kAnswering:
            switch (result.code) {
                case ResultCode::kCarrier:
                    carrierRate_ = result.rate;
                    return;
                case ResultCode::kConnect:
                    Connected(result.rate);
                    return;
                case ResultCode::kBusy:
                    Failed(kDisconnectBusy);
                    return;
                case ResultCode::kNoAnswer:
                    Failed(kDisconnectNoAnswer);
                    return;
                case ResultCode::kNoCarrier:
                    Failed(kDisconnectUnreachable);
                    return;
                case ResultCode::kNoDialTone:
                    Failed(kDisconnectNoDialTone);
                    return;
                case ResultCode::kError:
                    Failed(kDisconnectTempFailure);
                    return;
                default:
                    return;
            }
        case Mode::kAborting:
            if (result.code == ResultCode::kConnect) {
                // Connected just as we gave up: go online and hang up properly.
                skipLineFeed_ = true;
                scanner_.Clear();
                StartHangUp();
            } else if (result.code != ResultCode::kNone && result.code != ResultCode::kRing) {
                HangUpDone();
            }
            return;
        case Mode::kEscapeWait:
            if (result.code == ResultCode::kOk) {
                if (!WriteCommand("ATH")) {
                    LineDied();
                    return;
                }
                mode_ = Mode::kHangingUp;
                SetDeadline(timings_.commandReply);
            } else if (result.code == ResultCode::kNoCarrier) {
                HangUpDone();
            }
            return;
        case Mode::kHangingUp:
            if (result.code == ResultCode::kOk || result.code == ResultCode::kError ||
                result.code == ResultCode::kNoCarrier) {
                HangUpDone();
            }
            return;
        case Mode::kData:
        case Mode::kEscapeGuard:
        case Mode::kDead:
            return;
    }
}

void ModemLine::OnRing() {
    std::lock_guard lock(mutex_);
    const bool notifyRinging = (lineStates_ & kLineDevStateRinging) != 0;
    if (call_) {
        if (call_->incoming && call_->state == kCallStateOffering) {
            ++ringCount_;
            if (notifyRinging) {
                Post(handle_, kLineDevState, kLineDevStateRinging, 1, ringCount_);
            }
            SetDeadline(timings_.ringGap);
        }
        return;
    }
    if (ignoreRings_) {
        SetDeadline(timings_.ringGap);
        return;
    }
    Call offered;
    offered.handle = NewHandle();
    offered.state = kCallStateOffering;
    offered.incoming = true;
    call_ = offered;
    ringCount_ = 0;
    Post(handle_, kLineAppNewCall, 0, offered.handle, kPrivilegeOwner);
    Post(offered.handle, kLineCallState, kCallStateOffering);
    if (notifyRinging) {
        Post(handle_, kLineDevState, kLineDevStateRinging, 1, ringCount_);
    }
    SetDeadline(timings_.ringGap);
}

void ModemLine::OnDeadline() {
    switch (mode_) {
        case Mode::kCommand: {
            std::lock_guard lock(mutex_);
            ignoreRings_ = false;
            if (call_ && call_->incoming && call_->state == kCallStateOffering) {
                // The rings stopped: the caller gave up.
                call_->state = kCallStateDisconnected;
                Post(call_->handle, kLineCallState, kCallStateDisconnected, kDisconnectCancelled);
            }
            return;
        }
        case Mode::kDialSetup:
            // Not even an answer to ATS7: the modem is not listening.
            {
                std::lock_guard lock(mutex_);
                Post(0, kLineReply, dial_.request, 0);
            }
            Failed(kDisconnectOutOfOrder);
            return;
        case Mode::kDtrDrop:
            SetDtr(true);
            assembler_.Clear();
            if (!WriteCommand("AT")) {
                LineDied();
                return;
            }
            mode_ = Mode::kDtrCheck;
            SetDeadline(timings_.commandReply);
            return;
        case Mode::kDtrCheck:
            StartEscape();  // DTR did nothing here (no such line, or &D0)
            return;
        case Mode::kDialing:
        case Mode::kAnswering:
            Failed(kDisconnectNoAnswer);
            StartAbort();
            return;
        case Mode::kAborting:
        case Mode::kHangingUp:
            HangUpDone();
            return;
        case Mode::kEscapeGuard:
            if (!WriteRaw("+++")) {
                LineDied();
                return;
            }
            assembler_.Clear();
            mode_ = Mode::kEscapeWait;
            SetDeadline(timings_.escapeGuard + timings_.escapeReply);
            return;
        case Mode::kEscapeWait:
            // No OK to the escape: try ATH all the same.
            if (!WriteCommand("ATH")) {
                LineDied();
                return;
            }
            mode_ = Mode::kHangingUp;
            SetDeadline(timings_.commandReply);
            return;
        case Mode::kData:
        case Mode::kDead:
            return;
    }
}

bool ModemLine::CanRun(const Command& command) const {
    // A dial or an answer waits until a hang-up under way is over.
    const bool startsCall =
        command.kind == Command::Kind::kDial || command.kind == Command::Kind::kAnswer;
    if (mode_ == Mode::kDialSetup) {
        return false;  // a moment: the dial is about to go out
    }
    return !startsCall || mode_ == Mode::kCommand || mode_ == Mode::kDead;
}

void ModemLine::RunCommands() {
    for (;;) {
        Command command;
        {
            std::lock_guard lock(mutex_);
            if (commands_.empty() || !CanRun(commands_.front())) {
                return;
            }
            command = std::move(commands_.front());
            commands_.pop_front();
        }
        Execute(command);
    }
}

void ModemLine::Execute(const Command& command) {
    switch (command.kind) {
        case Command::Kind::kDial: {
            {
                std::lock_guard lock(mutex_);
                if (!IsCurrentLocked(command.call)) {
                    Post(0, kLineReply, command.request,
                         static_cast<std::uint32_t>(kErrInvalCallHandle));
                    return;
                }
                if (mode_ == Mode::kDead) {
                    call_.reset();
                    Post(0, kLineReply, command.request,
                         static_cast<std::uint32_t>(kErrOperationFailed));
                    return;
                }
            }
            carrierRate_ = 0;
            dial_ = command;
            std::uint32_t wait = 0;
            {
                std::lock_guard lock(mutex_);
                wait = call_->params.noAnswerTimeout;
            }
            if (wait == 0) {
                SendDial();
                return;
            }
            // The caller's wait for the far end goes into S7, or the modem's own cuts it short.
            assembler_.Clear();
            if (!WriteCommand("ATS7=" + std::to_string(std::min<std::uint32_t>(wait, 255)))) {
                SendDial();  // fails the same way and ends the line
                return;
            }
            mode_ = Mode::kDialSetup;
            SetDeadline(timings_.commandReply);
            return;
        }
        case Command::Kind::kAnswer: {
            {
                std::lock_guard lock(mutex_);
                if (!IsCurrentLocked(command.call) || call_->state != kCallStateOffering ||
                    mode_ == Mode::kDead) {
                    Post(0, kLineReply, command.request,
                         static_cast<std::uint32_t>(kErrInvalCallState));
                    return;
                }
            }
            if (!WriteCommand("ATA")) {
                Post(0, kLineReply, command.request,
                     static_cast<std::uint32_t>(kErrOperationFailed));
                LineDied();
                return;
            }
            Post(0, kLineReply, command.request, 0);
            assembler_.Clear();
            mode_ = Mode::kAnswering;
            SetDeadline(timings_.answerResult);
            return;
        }
        case Command::Kind::kDrop: {
            if (pendingDrop_ != 0) {
                Post(0, kLineReply, pendingDrop_, 0);  // superseded by this one
            }
            pendingDrop_ = command.request;
            dropCall_ = command.call;
            switch (mode_) {
                case Mode::kData:
                    StartHangUp();
                    return;
                case Mode::kDialing:
                case Mode::kAnswering:
                    StartAbort();
                    return;
                case Mode::kCommand:
                case Mode::kDead:
                    HangUpDone();
                    return;
                case Mode::kDialSetup:  // CanRun holds commands back meanwhile
                case Mode::kAborting:
                case Mode::kDtrDrop:
                case Mode::kDtrCheck:
                case Mode::kEscapeGuard:
                case Mode::kEscapeWait:
                case Mode::kHangingUp:
                    return;  // already on its way down
            }
            return;
        }
        case Command::Kind::kHangUpSilently:
            if (mode_ == Mode::kData) {
                StartHangUp();
            } else if (mode_ == Mode::kDialing || mode_ == Mode::kAnswering) {
                StartAbort();
            }
            return;
    }
}

void ModemLine::SendDial() {
    const Command command = dial_;
    std::uint32_t wait = 0;
    {
        std::lock_guard lock(mutex_);
        if (!IsCurrentLocked(command.call)) {
            mode_ = Mode::kCommand;
            deadline_.reset();
            Post(0, kLineReply, command.request, static_cast<std::uint32_t>(kErrInvalCallHandle));
            return;
        }
        wait = call_->params.noAnswerTimeout;
    }
    if (!WriteCommand(config_.dialPrefix + command.number)) {
        {
            std::lock_guard lock(mutex_);
            call_.reset();
        }
        Post(0, kLineReply, command.request, static_cast<std::uint32_t>(kErrOperationFailed));
        LineDied();
        return;
    }
    std::lock_guard lock(mutex_);
    Post(0, kLineReply, command.request, 0);
    if (IsCurrentLocked(command.call)) {
        call_->state = kCallStateProceeding;
        Post(command.call, kLineCallState, kCallStateProceeding);
    }
    assembler_.Clear();
    mode_ = Mode::kDialing;
    // The modem reports by itself when S7 runs out; this only catches one that never does.
    SetDeadline(std::max<Clock::duration>(timings_.dialResult,
                                          std::chrono::seconds(wait) + timings_.commandReply));
}

void ModemLine::Connected(std::uint32_t rate) {
    skipLineFeed_ = true;
    scanner_.Clear();
    deadline_.reset();
    mode_ = Mode::kData;
    const std::optional<int> lines = ModemLines();
    watchCarrier_ = lines && (*lines & TIOCM_CAR) != 0;
    // The line rate: from CARRIER when the modem reports it (W1); a CONNECT that only repeats
    // the port rate (W0) says nothing about the line.
    if (carrierRate_ != 0) {
        rate = carrierRate_;
    } else if (rate == config_.dteRate) {
        rate = 0;
    }
    bool wanted = false;
    {
        std::lock_guard lock(mutex_);
        if (call_) {
            wanted = true;
            call_->state = kCallStateConnected;
            call_->rate = rate;
            std::weak_ptr<ModemLine> self = weak_from_this();
            call_->data = std::make_shared<DataChannel>(
                [self](const std::uint8_t* bytes, std::size_t count, std::size_t& done,
                       const platform::CommTimeouts& timeouts) {
                    const std::shared_ptr<ModemLine> line = self.lock();
                    return line ? line->WriteData(bytes, count, done, timeouts) : EIO;
                });
            Post(call_->handle, kLineCallState, kCallStateConnected);
        }
    }
    if (!wanted) {
        StartHangUp();  // nobody wants this call any more
    }
}

void ModemLine::Failed(std::uint32_t disconnectMode) {
    deadline_.reset();
    mode_ = Mode::kCommand;
    std::lock_guard lock(mutex_);
    if (call_ && call_->state != kCallStateDisconnected && call_->state != kCallStateIdle) {
        call_->state = kCallStateDisconnected;
        Post(call_->handle, kLineCallState, kCallStateDisconnected, disconnectMode);
    }
}

void ModemLine::CarrierLost() {
    mode_ = Mode::kCommand;
    deadline_.reset();
    assembler_.Clear();
    std::lock_guard lock(mutex_);
    if (call_ && call_->state == kCallStateConnected) {
        if (call_->data) {
            call_->data->Break();
        }
        call_->state = kCallStateDisconnected;
        Post(call_->handle, kLineCallState, kCallStateDisconnected, kDisconnectNormal);
    }
}

void ModemLine::StartEscape() {
    {
        std::lock_guard lock(mutex_);
        if (call_ && call_->data) {
            call_->data->Break();
        }
    }
    mode_ = Mode::kEscapeGuard;
    SetDeadline(timings_.escapeGuard);
}

void ModemLine::StartAbort() {
    // Any character cuts a dial or an answer short.
    if (!WriteRaw("\r")) {
        LineDied();
        return;
    }
    assembler_.Clear();
    mode_ = Mode::kAborting;
    SetDeadline(timings_.abortReply);
}

void ModemLine::HangUpDone() {
    mode_ = Mode::kCommand;
    deadline_.reset();
    assembler_.Clear();
    if (pendingDrop_ == 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (IsCurrentLocked(dropCall_)) {
        if (call_->data) {
            call_->data->Break();
        }
        call_->state = kCallStateIdle;
        Post(dropCall_, kLineCallState, kCallStateIdle);
    }
    Post(0, kLineReply, pendingDrop_, 0);
    pendingDrop_ = 0;
    dropCall_ = 0;
}

void ModemLine::LineDied() {
    if (mode_ == Mode::kDead) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        dead_ = true;
        if (call_ && call_->state != kCallStateIdle && call_->state != kCallStateDisconnected) {
            if (call_->data) {
                call_->data->Break();
            }
            call_->state = kCallStateDisconnected;
            Post(call_->handle, kLineCallState, kCallStateDisconnected, kDisconnectOutOfOrder);
        }
        if (!stopRequested_) {
            Post(handle_, kLineClose, 0);
        }
    }
    HangUpDone();  // answers a drop under way
    mode_ = Mode::kDead;
    std::lock_guard lock(writeMutex_);
    port_.reset();
}

}  // namespace telephony
