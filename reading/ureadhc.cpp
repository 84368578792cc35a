#include "reading/ureadhc.h"

#include <poll.h>

#include <cctype>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/cp1251_literal.h"
#include "platform/win_path.h"
#include "protocol/archive_progress.h"
#include "protocol/data_file.h"
#include "protocol/protocol_error.h"
#include "protocol/tv540v60.h"
#include "reading/data_file_patch.h"
#include "reading/hc_connection.h"
#include "reading/parameter_list.h"
#include "workers/uthreadextproc.h"

namespace reading {
namespace {

using Clock = std::chrono::steady_clock;
using protocol::ProtocolError;

constexpr const char* kReaderProgram = "calvix.exe";
constexpr const char* kDataFile = "hc\\dat1hc";
constexpr const char* kDeepDataFile = "hc\\dat2hc";
constexpr char kVersion60 = '<';
constexpr char kVersion53 = '5';
constexpr int kAttempts = 3;
constexpr std::uint32_t kPauseMs = 50;

constexpr std::string_view kErrorPrefix =
    W1251("Ошибка при чтении архивов из тепловычислителя.\r\n");
constexpr std::string_view kStopped = W1251("Чтение архивов из тепловычислителя прервано.");

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Lists of devices that keep no daily hours.
bool ListWithoutDailyHours(std::string_view listName) {
    return SameNameIgnoringCase(listName, "hc\\tv540wi.opr") ||
           SameNameIgnoringCase(listName, "hc\\tv540wi_o.opr");
}

class ReadWorker final : public protocol::ArchiveProgress {
  public:
    ReadWorker(ReadSettings settings, ReadCallbacks callbacks, ReadEnvironment environment)
        : settings_(std::move(settings)),
          callbacks_(std::move(callbacks)),
          environment_(std::move(environment)),
          connection_(ConnectionOf(settings_), environment_.modem),
          control_(std::make_shared<workers::WorkerControl>()) {}

    const std::shared_ptr<workers::WorkerControl>& Control() const { return control_; }

    void Execute();

    // Progress of the archive reads: reports only; the reads decide what a stop means.
    bool Report(std::string_view text, int position, int maximum) override {
        ReportProgress(position, maximum, text, false);
        return cancelRequested_;
    }

  private:
    void OnMainThread(const std::function<void()>& call) {
        workers::RunOnMain(callbacks_.runOnMainThread, call);
    }
    bool Cancelled() const { return control_->CancelEvent().IsSet(); }
    bool StopAsked() const { return environment_.stopEvent && environment_.stopEvent->IsSet(); }
    // Before the device has answered, a stop ends the dial, the waits and the exchanges.
    bool StopsAtOnce() const { return !deviceAnswered_ && StopAsked(); }
    std::filesystem::path PathOf(std::string_view name) const {
        return platform::ResolvePath(name, environment_.workFolder);
    }

    void ReportProgress(int position, int maximum, std::string_view text, bool mayCancel);
    void Read();
    std::unique_ptr<protocol::DataFile> CreateDataFile(const std::string& name);
    template <class Device>
    std::unique_ptr<Device> MakeDevice();
    void ReadVersion60(std::unique_ptr<protocol::DataFile> file);
    void ReadParameterList(protocol::CTV540& device, const std::string& listName,
                           std::unique_ptr<protocol::DataFile> file);
    void CloseAndPatch(std::unique_ptr<protocol::DataFile> file);
    void ReadDeepArchive(protocol::CTV540& device);
    void PauseBeforeRetry();
    void End(const std::string& errorText);

    ReadSettings settings_;
    ReadCallbacks callbacks_;
    ReadEnvironment environment_;
    HcConnection connection_;
    std::shared_ptr<workers::WorkerControl> control_;
    Clock::time_point startTime_ = Clock::now();
    bool cancelRequested_ = false;
    bool succeeded_ = false;
    bool deviceAnswered_ = false;
};

void ReadWorker::ReportProgress(int position, int maximum, std::string_view text, bool mayCancel) {
    ReadProgress progress;
    progress.statusText = std::string(text);
    progress.timeText = workers::extproc::ReadingTimeText(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startTime_));
    progress.position = position;
    progress.maximum = maximum;
    bool stop = false;
    OnMainThread([&] {
        if (callbacks_.progress) {
            stop = callbacks_.progress(progress);
        }
    });
    // A stop once asked for stays asked for; a cancelled handle asks too.
    cancelRequested_ = cancelRequested_ || stop || Cancelled();
    if (cancelRequested_ && mayCancel) {
        throw ProtocolError(kStopped);
    }
}

template <class Device>
std::unique_ptr<Device> ReadWorker::MakeDevice() {
    auto device = std::make_unique<Device>(static_cast<std::uint8_t>(settings_.abonent & 0xFF),
                                           connection_.Link(), kAttempts, kPauseMs);
    protocol::LinkWaits waits;
    waits.recoveryWaitMs = static_cast<std::uint32_t>(environment_.timings.resyncWait.count());
    waits.mailboxPollMs = static_cast<std::uint32_t>(environment_.timings.mailboxPoll.count());
    if (environment_.timings.commandPause) {
        waits.commandPauseMs =
            static_cast<std::uint32_t>(environment_.timings.commandPause->count());
    }
    device->SetWaits(waits);
    // The activity lamp; only a cancelled handle stops the exchanges (an operator's stop is
    // seen at the progress calls).
    device->exchangeCallback = [this](bool ok) {
        if (callbacks_.exchangeActivity) {
            callbacks_.exchangeActivity(ok);
        }
        return !Cancelled() && !StopsAtOnce();
    };
    return device;
}

std::unique_ptr<protocol::DataFile> ReadWorker::CreateDataFile(const std::string& name) {
    std::unique_ptr<protocol::DataFile> file = protocol::DataFile::Create(PathOf(name));
    if (!file) {
        throw ProtocolError(std::string(W1251("Ошибка при создании файла данных ")) + name);
    }
    return file;
}

void ReadWorker::CloseAndPatch(std::unique_ptr<protocol::DataFile> file) {
    const bool closed = file->Close();
    if (!closed || !PatchHourRecordsInFile(file->Path())) {
        throw ProtocolError(W1251("Ошибка при записи в файл данных."));
    }
}

void ReadWorker::Read() {
    if (settings_.readerProgram != kReaderProgram) {
        throw ProtocolError(W1251("Неверная программа для чтения"));
    }
    std::error_code ignored;
    std::filesystem::remove(PathOf(kDataFile), ignored);
    ReportProgress(0, 1, W1251("Устанавливается соединение. Ждите ..."), true);
    std::vector<const platform::Event*> stops{&control_->CancelEvent()};
    if (environment_.stopEvent) {
        stops.push_back(environment_.stopEvent.get());
    }
    connection_.Connect(stops);
    startTime_ = Clock::now();

    std::unique_ptr<protocol::CTV540> device = MakeDevice<protocol::CTV540>();
    const char version = static_cast<char>(device->DetectVersion(settings_.versionList));
    deviceAnswered_ = device->connected();
    if (device->connected()) {
        ReportProgress(0, 1, W1251("Соединение установлено."), true);
    }
    std::string listName;
    OnMainThread([&] {
        if (callbacks_.chooseParameterList) {
            listName = callbacks_.chooseParameterList(version);
        }
    });
    if (settings_.readHourly && ListWithoutDailyHours(listName)) {
        throw ProtocolError(W1251("Невозможно читать архивы по дням на данной версии прибора."));
    }
    std::unique_ptr<protocol::DataFile> file = CreateDataFile(kDataFile);
    if (version == kVersion60) {
        device.reset();
        ReadVersion60(std::move(file));
        connection_.Disconnect();
        return;
    }
    ReadParameterList(*device, listName, std::move(file));
    if (!cancelRequested_ && !settings_.onlyPeriod && version == kVersion53) {
        ReadDeepArchive(*device);
    }
    connection_.Disconnect();
}

void ReadWorker::ReadVersion60(std::unique_ptr<protocol::DataFile> file) {
    std::unique_ptr<protocol::CTV540v60> device = MakeDevice<protocol::CTV540v60>();
    device->ReadVersion60(*file, settings_.readHourly, *this, settings_.configuration,
                          settings_.onlyPeriod);
    CloseAndPatch(std::move(file));
}

void ReadWorker::PauseBeforeRetry() {
    // The cancel event is only looked at: it stays set for every later wait.
    const Clock::time_point end = Clock::now() + environment_.timings.lineRetryPause;
    for (Clock::time_point now = Clock::now(); now < end && !Cancelled(); now = Clock::now()) {
        if (StopAsked()) {
            return;
        }
        std::vector<pollfd> events{{control_->CancelEvent().Fd(), POLLIN, 0}};
        if (environment_.stopEvent) {
            events.push_back({environment_.stopEvent->Fd(), POLLIN, 0});
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        ::poll(events.data(), events.size(), static_cast<int>(left.count()));
    }
}

void ReadWorker::ReadParameterList(protocol::CTV540& device, const std::string& listName,
                                   std::unique_ptr<protocol::DataFile> file) {
    const std::vector<std::string> lines = LoadParameterList(PathOf(listName), listName);
    ListRun run{device,
                connection_.UsesModem(),
                settings_.readHourly,
                *file,
                *this,
                [this](int i, int n) {
                    ReportProgress(i, n, W1251("Считываются данные из тепловычислителя"), true);
                },
                [this] { PauseBeforeRetry(); },
                environment_.timings.listStatusPoll};
    RunParameterList(lines, run);
    CloseAndPatch(std::move(file));
}

// The 180-day archive goes into a file of its own; it never fails the reading.
void ReadWorker::ReadDeepArchive(protocol::CTV540& device) {
    const std::filesystem::path path = PathOf(kDeepDataFile);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    bool completed = false;
    try {
        std::unique_ptr<protocol::DataFile> file = protocol::DataFile::Create(path);
        if (file) {
            completed = device.Read180DayArchive(*file, *this);
            completed = file->Close() && completed;
        }
    } catch (const std::exception&) {
        completed = false;
    }
    if (!completed) {
        std::filesystem::remove(path, ignored);
    }
}

void ReadWorker::End(const std::string& errorText) {
    workers::ReportEnd(*control_, callbacks_.runOnMainThread, [&] {
        if (callbacks_.finished) {
            callbacks_.finished(succeeded_, errorText);
        }
    });
}

void ReadWorker::Execute() {
    startTime_ = Clock::now();
    std::string errorText;
    std::string message;
    bool failed = true;
    try {
        Read();
        failed = false;
    } catch (const ProtocolError& error) {
        message = error.what();
    } catch (...) {
        // No text the operator could use: the prefix alone says what failed.
    }
    // A stop before the device answered ended the dial or the exchanges: that is the stop.
    if (failed && StopsAtOnce()) {
        cancelRequested_ = true;
        message = kStopped;
    }
    // A cancelled handle fails the reading, whatever the device had left to say.
    if (Cancelled()) {
        failed = true;
        cancelRequested_ = true;
        message = kStopped;
    }
    succeeded_ = !failed;
    if (failed) {
        errorText =
            cancelRequested_ && !message.empty() ? message : std::string(kErrorPrefix) + message;
    }
    connection_.Disconnect();
    if (!succeeded_) {
        std::error_code ignored;
        std::filesystem::remove(PathOf(kDataFile), ignored);
    }
    End(errorText);
}

}  // namespace

workers::WorkerThread CThreadReadHCArchive::Start(ReadSettings settings, ReadCallbacks callbacks,
                                                  ReadEnvironment environment) {
    auto worker = std::make_shared<ReadWorker>(std::move(settings), std::move(callbacks),
                                               std::move(environment));
    std::shared_ptr<workers::WorkerControl> control = worker->Control();
    // The thread owns the worker; it is freed when the body ends.
    return workers::WorkerThread(std::move(control), [self = std::move(worker)]() mutable {
        self->Execute();
        self.reset();
    });
}

std::uint32_t ModemSlotOf(std::string_view portName) {
    if (portName.size() <= 3) {
        return 0;
    }
    std::uint32_t slot = 0;
    for (const char c : portName.substr(3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        slot = slot * 10 + static_cast<std::uint32_t>(c - '0');
        if (slot > 0x7FFFFFFFu / 10) {
            return 0;  // too long to be a number
        }
    }
    return slot;
}

}  // namespace reading
