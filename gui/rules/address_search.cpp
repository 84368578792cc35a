#include "gui/rules/address_search.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/serial_port.h"
#include "protocol/utv540.h"

namespace calvix {

namespace {

// The frames as stored, for address 3: clear the command status at 1080h, write command 53 at
// 1000h, read the status and the answer (9 bytes) from 1080h.
constexpr std::array<std::uint8_t, 7> kStoredFrames[] = {
    {0x03, 0x09, 0x02, 0x10, 0x80, 0x00, 0x9E},
    {0x03, 0x09, 0x02, 0x10, 0x00, 0x35, 0x53},
    {0x03, 0x08, 0x02, 0x10, 0x80, 0x08, 0xA5},
};

constexpr std::size_t kAckSize = 3;
constexpr std::size_t kAnswerSize = 13;

std::uint8_t SumOf(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void Wait(std::chrono::milliseconds pause) {
    if (pause.count() > 0) {
        std::this_thread::sleep_for(pause);
    }
}

// How one step of an address went.
enum class Step { Ok, NextAddress, WriteFailed, ReadFailed, Stopped };

class Searcher {
  public:
    Searcher(const SearchRequest& request, const std::atomic<std::uint8_t>& stop, SearchView& view)
        : request_(request), stop_(stop), view_(view) {}

    SearchEnd Run();

  private:
    bool Send(SearchFrame frame, std::uint8_t address);
    Step Exchange(SearchFrame frame, std::uint8_t address, std::uint8_t* answer, std::size_t count,
                  std::size_t& got);
    Step Acknowledged(SearchFrame frame, std::uint8_t address);
    Step ReadAnswer(std::uint8_t address, std::uint8_t (&answer)[kAnswerSize]);
    Step TryAddress(int address);
    bool Skipped(int address) const {
        return address == 0 || address == 1 || (request_.net && address == kOwnNetAddress);
    }

    const SearchRequest& request_;
    const std::atomic<std::uint8_t>& stop_;
    SearchView& view_;
    std::unique_ptr<platform::SerialPort> port_;
    platform::DeviceControl dcb_;
    int found_ = 0;
};

// The address byte alone under MARK parity, the rest under SPACE, each after its wait. A parity
// change that does not apply counts as a failed write: the frame could not go out as it must.
bool Searcher::Send(SearchFrame frame, std::uint8_t address) {
    const std::array<std::uint8_t, 7> bytes = MakeSearchFrame(frame, address);
    const SearchWaits& waits = request_.waits;
    std::size_t done = 0;
    Wait(waits.beforeAddress);
    dcb_.parity = platform::kMarkParity;
    if (!port_->SetCommState(dcb_) || !port_->Write(bytes.data(), 1, done) || done != 1) {
        return false;
    }
    Wait(frame == SearchFrame::A ? waits.afterAddressA : waits.afterAddress);
    dcb_.parity = platform::kSpaceParity;
    return port_->SetCommState(dcb_) && port_->Write(bytes.data() + 1, 6, done) && done == 6;
}

Step Searcher::Exchange(SearchFrame frame, std::uint8_t address, std::uint8_t* answer,
                        std::size_t count, std::size_t& got) {
    if (!Send(frame, address)) {
        return Step::WriteFailed;
    }
    std::fill(answer, answer + count, 0);
    got = 0;
    return port_->Read(answer, count, got) ? Step::Ok : Step::ReadFailed;
}

Step Searcher::Acknowledged(SearchFrame frame, std::uint8_t address) {
    std::uint8_t ack[kAckSize];
    std::size_t got = 0;
    const Step step = Exchange(frame, address, ack, kAckSize, got);
    if (step != Step::Ok) {
        return step;
    }
    const bool accepted = got == kAckSize && ack[0] == 0x00 && ack[1] == 'P' && ack[2] == 'P';
    return accepted ? Step::Ok : Step::NextAddress;
}

// Frame C, repeated while the device says its command is not done yet. An answer that did not
// come whole is no device: its bytes would be listed as a factory number.
Step Searcher::ReadAnswer(std::uint8_t address, std::uint8_t (&answer)[kAnswerSize]) {
    std::size_t got = 0;
    Step step = Exchange(SearchFrame::C, address, answer, kAnswerSize, got);
    for (int repeat = 0;
         step == Step::Ok && got == kAnswerSize && answer[3] == 0 && repeat < kMaxStatusZeroRepeats;
         ++repeat) {
        if (stop_.load() != 0) {
            return Step::Stopped;
        }
        Wait(request_.waits.repeatC);
        step = Exchange(SearchFrame::C, address, answer, kAnswerSize, got);
    }
    if (step != Step::Ok) {
        return step;
    }
    return got == kAnswerSize ? Step::Ok : Step::NextAddress;
}

Step Searcher::TryAddress(int address) {
    const auto byte = static_cast<std::uint8_t>(address);
    for (SearchFrame frame : {SearchFrame::A, SearchFrame::B}) {
        const Step step = Acknowledged(frame, byte);
        if (step != Step::Ok) {
            return step;
        }
    }
    std::uint8_t answer[kAnswerSize];
    const Step step = ReadAnswer(byte, answer);
    if (step != Step::Ok) {
        return step;
    }
    if (SumOf(answer, kAnswerSize - 1) != answer[kAnswerSize - 1]) {
        view_.FaultyDevice();
        return Step::NextAddress;
    }
    ++found_;
    view_.Found(FoundText(address, answer), found_);
    return Step::Ok;
}

SearchEnd Searcher::Run() {
    port_ = protocol::OpenDevicePort(request_.portName, request_.speed, dcb_);
    if (!port_) {
        // A raw TCP port cannot carry the device's parity: say so, as the reading does.
        view_.PortOpenFailed(errno == EPROTONOSUPPORT
                                 ? protocol::FixedLinePortText(request_.portName)
                                 : std::string());
        return SearchEnd::PortNotOpened;
    }
    view_.ShowAddress(0);
    // Addresses are one byte: a range past 255 would wrap onto 0 and 1.
    const int last = std::min(request_.end, kLastAddress);
    for (int address = std::max(request_.begin, 0); address <= last; ++address) {
        if (stop_.load() != 0) {
            return SearchEnd::Stopped;
        }
        view_.ShowAddress(address);
        if (Skipped(address)) {
            continue;
        }
        switch (TryAddress(address)) {
            case Step::Ok:
            case Step::NextAddress:
                break;
            case Step::Stopped:
                return SearchEnd::Stopped;
            case Step::WriteFailed:
                port_.reset();
                view_.WriteFailed();
                return SearchEnd::WriteFailed;
            case Step::ReadFailed:
                port_.reset();
                view_.ReadFailed();
                return SearchEnd::ReadFailed;
        }
    }
    port_.reset();
    view_.Finished();
    return SearchEnd::Finished;
}

}  // namespace

std::array<std::uint8_t, 7> MakeSearchFrame(SearchFrame frame, std::uint8_t address) {
    std::array<std::uint8_t, 7> bytes = kStoredFrames[static_cast<int>(frame)];
    bytes[0] = address;
    bytes[6] = SumOf(bytes.data(), 6);
    return bytes;
}

std::string FoundText(int address, const std::uint8_t (&answer)[13]) {
    std::string text = std::to_string(address) + " - ";
    for (std::size_t i = 4; i <= 7; ++i) {
        if (answer[i] != 0xFF) {
            text.push_back(static_cast<char>(answer[i]));
        }
    }
    return text;
}

SearchEnd RunAddressSearch(const SearchRequest& request, const std::atomic<std::uint8_t>& stop,
                           SearchView& view) {
    return Searcher(request, stop, view).Run();
}

// ---------------------------------------------------------------------------------------------

AddressSearchThread::AddressSearchThread(Spawner spawn) : spawn_(std::move(spawn)) {
    if (!spawn_) {
        spawn_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
    }
}

AddressSearchThread::~AddressSearchThread() {
    RequestStop();
    Join();
}

bool AddressSearchThread::Start(SearchRequest request, std::unique_ptr<SearchView> view) {
    if (thread_.joinable()) {
        RequestStop();
        Join();
    }
    stop_.store(0);
    {
        std::lock_guard lock(mutex_);
        finished_ = false;
    }
    std::shared_ptr<SearchView> shared(std::move(view));
    auto body = [this, request = std::move(request), shared]() mutable {
        try {
            RunAddressSearch(request, stop_, *shared);
        } catch (...) {
            // Nothing may leave the thread; the search just ends.
        }
        shared.reset();
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        finishedChanged_.notify_all();
    };
    try {
        thread_ = spawn_(std::move(body));
    } catch (const std::system_error&) {
        std::lock_guard lock(mutex_);
        finished_ = true;
        return false;
    }
    return true;
}

bool AddressSearchThread::Running() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable() && !finished_;
}

bool AddressSearchThread::WaitFinished(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return finishedChanged_.wait_for(lock, limit, [this] { return finished_; });
}

void AddressSearchThread::JoinIfFinished() {
    bool finished = false;
    {
        std::lock_guard lock(mutex_);
        finished = finished_;
    }
    if (finished) {
        Join();
    }
}

void AddressSearchThread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace calvix
