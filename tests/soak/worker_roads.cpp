// The reading worker of the main window, headless, over a direct line or a modem call through
// the real libtarvex.so.
#include <stdlib.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "emulators/hc_line.h"
#include "emulators/modem_emulator.h"
#include "platform/cp1251_literal.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"
#include "tests/soak/soak_road.h"
#include "tests/support/scratch_folder.h"

namespace soak {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDirectPort = 5;
constexpr int kModemPort = 3;
constexpr const char* kNumber = "101";

struct Ending {
    bool ended = false;
    bool succeeded = false;
    std::string text;
};

// Runs one reading to its end, or drops it after `limit` (then `ended` is false).
Ending RunReading(const reading::ReadSettings& settings, reading::ReadEnvironment environment,
                  std::chrono::seconds limit, const std::function<void()>& whileRunning) {
    std::mutex mutex;
    std::condition_variable changed;
    Ending ending;
    reading::ReadCallbacks callbacks;
    callbacks.progress = [](const reading::ReadProgress&) { return false; };
    callbacks.chooseParameterList = [](char version) {
        return std::string(version == '5' ? "hc\\tv540v53.opr" : "hc\\tv540v45.opr");
    };
    callbacks.finished = [&](bool succeeded, const std::string& text) {
        std::lock_guard lock(mutex);
        ending = {true, succeeded, text};
        changed.notify_all();
    };
    workers::WorkerThread worker = reading::CThreadReadHCArchive::Start(
        settings, std::move(callbacks), std::move(environment));
    if (whileRunning) {
        whileRunning();
    }
    bool ended = false;
    {
        std::unique_lock lock(mutex);
        ended = changed.wait_for(lock, limit, [&] { return ending.ended; });
    }
    if (ended) {
        // Past its end callback the worker only returns; a handle dropped while it is still in
        // the callback would leave it to the reaper until the next such drop.
        worker.Join();
    }
    worker = workers::WorkerThread();  // cancels a reading still running and waits for it
    std::lock_guard lock(mutex);
    return ending;
}

// Drops the carrier at a planned moment unless the reading ended first.
class CarrierDropper {
  public:
    CarrierDropper(emulators::ModemEmulator& modem, std::optional<std::chrono::milliseconds> at)
        : thread_([this, &modem, at] {
              if (!at) {
                  return;
              }
              std::unique_lock lock(mutex_);
              if (!changed_.wait_for(lock, *at, [this] { return done_; })) {
                  modem.HangUpFarEnd();
              }
          }) {}
    ~CarrierDropper() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    CarrierDropper(const CarrierDropper&) = delete;
    CarrierDropper& operator=(const CarrierDropper&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

class WorkerRoad : public Road {
  public:
    WorkerRoad(int version, bool throughModem, const SoakSettings& settings)
        : settings_(settings),
          device_(SoakDevice(version, settings.hourlyRecords)),
          throughModem_(throughModem),
          peerLink_(home_.Path() / "hc-line") {}

    void Prepare() override {
        if (throughModem_) {
            StartModem();
        }
        Reference reference = Read({}, std::nullopt).second;
        if (!reference.ok) {
            throw std::runtime_error("the fault-free reading failed: " + reference.text);
        }
        reference_ = std::move(reference);
        // Threads the modem library starts on first use stay; count from here.
        descriptors_ = OpenDescriptors();
        threads_ = Threads();
    }

    RunResult Run(std::mt19937& random, const FaultMix& mix, std::string& faults) override {
        FaultMix deviceMix = mix;
        deviceMix.lineMayVanish = mix.lineMayVanish && !throughModem_;
        const std::vector<emulators::Fault> plan =
            PlanDeviceFaults(random, deviceMix, reference_.frames);
        std::optional<std::chrono::milliseconds> drop;
        if (throughModem_) {
            drop = PlanCarrierDrop(random, mix, reference_.duration);
        }
        faults =
            Describe(plan) + (drop ? " carrier-drop@" + std::to_string(drop->count()) + "ms" : "");
        const RunResult result = Read(plan, drop).first;
        if (result.verdict == Verdict::Bad) {
            return result;
        }
        if (const std::vector<std::string> now = OpenDescriptors();
            now.size() != descriptors_.size()) {
            std::string opened;
            for (const std::string& fd : now) {
                if (std::find(descriptors_.begin(), descriptors_.end(), fd) == descriptors_.end()) {
                    opened += " [" + fd + "]";
                }
            }
            return Bad("descriptors: " + std::to_string(descriptors_.size()) + " before, " +
                       std::to_string(now.size()) + " after;" + opened);
        }
        if (Threads() != threads_) {
            return Bad("threads: " + std::to_string(threads_) + " before, " +
                       std::to_string(Threads()) + " after");
        }
        return result;
    }

  private:
    struct Reference {
        bool ok = false;
        std::string text;
        Bytes data, deep;
        bool deepRead = false;
        unsigned frames = 0;
        std::chrono::milliseconds duration{0};
    };

    void StartModem() {
        ::setenv("TARVEX_MODEMS", ("COM" + std::to_string(kModemPort)).c_str(), 1);
        emulators::ModemOptions options;
        options.numbers[kNumber] =
            emulators::DialPlan{emulators::DialOutcome::Connect, 9600, 200, peerLink_.string()};
        modem_ = std::make_unique<emulators::ModemEmulator>(std::move(options));
        ::setenv(("CALVIX_COM" + std::to_string(kModemPort)).c_str(), modem_->SlavePath().c_str(),
                 1);
        library_ = reading::LoadTarvex(settings_.tarvex.string());
        if (!library_->Loaded()) {
            throw std::runtime_error("libtarvex.so: " + library_->LoadError());
        }
    }

    reading::ReadSettings Settings() const {
        reading::ReadSettings settings;
        settings.abonent = 1;
        settings.baudRate = settings_.baud;
        settings.versionList = {"302/101/0/30/15=60,53,45"};
        if (throughModem_) {
            settings.useModem = true;
            settings.portName = "COM" + std::to_string(kModemPort);
            settings.phoneNumber = kNumber;
            settings.connectTimeout = 60;
        } else {
            settings.portName = "COM" + std::to_string(kDirectPort);
        }
        return settings;
    }

    std::pair<RunResult, Reference> Read(const std::vector<emulators::Fault>& plan,
                                         std::optional<std::chrono::milliseconds> drop) {
        testsupport::ScratchFolder folder;
        fs::create_directories(folder.Path() / "hc");
        for (const char* list : {"tv540v45.opr", "tv540v53.opr"}) {
            fs::copy_file(settings_.siteFolder / "hc" / list, folder.Path() / "hc" / list);
        }
        emulators::LineOptions lineOptions;
        if (throughModem_) {
            lineOptions.linkPath = peerLink_.string();
        }
        emulators::HcLine line({device_}, lineOptions);
        for (const emulators::Fault& fault : plan) {
            line.Device(device_.address).InjectFault(fault);
        }
        if (!throughModem_) {
            ::setenv(("CALVIX_COM" + std::to_string(kDirectPort)).c_str(), line.SlavePath().c_str(),
                     1);
        }
        reading::ReadEnvironment environment;
        environment.workFolder = folder.Path();
        environment.modem = library_.get();
        const Clock::time_point start = Clock::now();
        Ending ending;
        {
            std::unique_ptr<CarrierDropper> dropper;
            ending = RunReading(Settings(), environment, settings_.hangLimit, [&] {
                if (modem_) {
                    dropper = std::make_unique<CarrierDropper>(*modem_, drop);
                }
            });
        }
        Reference got;
        got.ok = ending.ended && ending.succeeded;
        got.text = ending.text;
        got.data = FileBytes(folder.Path() / "hc" / "dat1hc");
        got.deepRead = fs::exists(folder.Path() / "hc" / "dat2hc");
        got.deep = FileBytes(folder.Path() / "hc" / "dat2hc");
        got.frames = line.Device(device_.address).Stats().framesReceived;
        got.duration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        line.Stop();
        RunResult result = Judge(ending, got, folder.Path());
        if (result.verdict != Verdict::Bad && modem_ && !CallEnded()) {
            result = Bad("the call is still up after the reading");
        }
        return {result, got};
    }

    RunResult Judge(const Ending& ending, const Reference& got, const fs::path& folder) const {
        if (!ending.ended) {
            return Bad("no end within " + std::to_string(settings_.hangLimit.count()) + " s");
        }
        const std::vector<std::string> lists = {"hc/tv540v45.opr", "hc/tv540v53.opr"};
        if (!ending.succeeded) {
            if (ending.text.empty()) {
                return Bad("a failure without a message");
            }
            const std::vector<std::string> left = Leftovers(folder, lists);
            if (!left.empty()) {
                return Bad("a failed reading left " + left.front());
            }
            return Clean(ending.text);
        }
        if (!reference_.ok) {
            return Right();  // this is the reference
        }
        if (got.data != reference_.data) {
            return Bad("dat1hc differs from the fault-free reading (" +
                       std::to_string(got.data.size()) + " bytes against " +
                       std::to_string(reference_.data.size()) + ")");
        }
        // The 180-day archive never fails the reading: it is whole or absent.
        if (got.deepRead && got.deep != reference_.deep) {
            return Bad("dat2hc differs from the fault-free reading");
        }
        if (reference_.deepRead && !got.deepRead) {
            return {Verdict::Right, "without its 180-day archive"};
        }
        return Right();
    }

    bool CallEnded() const {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            if (!modem_->Stats().online && library_->ModemGetCommHandle(kModemPort) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    SoakSettings settings_;
    emulators::HcConfig device_;
    bool throughModem_;
    testsupport::ScratchFolder home_;
    fs::path peerLink_;
    std::unique_ptr<emulators::ModemEmulator> modem_;
    std::unique_ptr<reading::ModemLibrary> library_;
    Reference reference_;
    std::vector<std::string> descriptors_;
    unsigned threads_ = 0;
};

}  // namespace

std::unique_ptr<Road> MakeWorkerRoad(int version, bool throughModem, const SoakSettings& settings) {
    return std::make_unique<WorkerRoad>(version, throughModem, settings);
}

}  // namespace soak
