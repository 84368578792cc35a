// The console programs as an operator's batch file runs them: quellar reading a heat
// calculator by the shipped parameter list, fenlor downloading from the УПД (then the dump is
// converted as calvix converts it).
#include <stdlib.h>

#include "emulators/hc_line.h"
#include "emulators/upd_line.h"
#include "platform/ini_file.h"
#include "protocol/tv540v60upd.h"
#include "tests/soak/soak_road.h"
#include "tests/support/process.h"
#include "tests/support/scratch_folder.h"

namespace soak {

namespace {

namespace fs = std::filesystem;

constexpr int kFailedReading = 255;  // quellar's exit status after a failed line

struct Finished {
    int code = -1;  // testsupport::Process::Wait: 1000 + signal, -1 still running
    std::string printed, errors;
};

Finished RunProgram(const std::vector<std::string>& argv, const std::string& comVariable,
                    const std::string& line, const fs::path& folder, std::chrono::seconds limit) {
    const fs::path out = folder / "program.out";
    testsupport::Process process(argv, out, {comVariable + "=" + line}, folder);
    Finished finished;
    finished.code = process.Wait(limit);
    finished.printed = FileText(out);
    finished.errors = FileText(out.string() + ".err");
    return finished;
}

// What no run may do, whatever its faults: crash, hang, or let a sanitizer speak.
std::optional<RunResult> Misbehaved(const Finished& finished, std::chrono::seconds limit) {
    if (finished.code == -1) {
        return Bad("still running after " + std::to_string(limit.count()) + " s");
    }
    if (finished.code >= 1000) {
        return Bad("killed by signal " + std::to_string(finished.code - 1000));
    }
    if (SanitizerReport(finished.errors)) {
        return Bad("sanitizer: " + finished.errors.substr(0, 400));
    }
    return std::nullopt;
}

const std::vector<std::string> kOutFiles = {"program.out", "program.out.err"};

class QuellarRoad : public Road {
  public:
    explicit QuellarRoad(const SoakSettings& settings)
        : settings_(settings), device_(SoakDevice(45, settings.hourlyRecords)) {}

    void Prepare() override {
        const RunResult result = Read({}, &reference_);
        if (result.verdict != Verdict::Right) {
            throw std::runtime_error("the fault-free reading failed: " + result.detail);
        }
    }

    RunResult Run(std::mt19937& random, const FaultMix& mix, std::string& faults) override {
        const std::vector<emulators::Fault> plan = PlanDeviceFaults(random, mix, frames_);
        faults = Describe(plan);
        return Read(plan, nullptr);
    }

  private:
    RunResult Read(const std::vector<emulators::Fault>& plan, Bytes* reference) {
        testsupport::ScratchFolder folder;
        emulators::HcLine line({device_});
        for (const emulators::Fault& fault : plan) {
            line.Device(device_.address).InjectFault(fault);
        }
        const fs::path output = folder.Path() / "dat1hc";
        const Finished finished = RunProgram(
            {settings_.quellar.string(), "2", std::to_string(settings_.baud), "0", "200", "1",
             (settings_.siteFolder / "hc" / "tv540wi.opr").string(), output.string()},
            "CALVIX_COM2", line.SlavePath(), folder.Path(), settings_.hangLimit);
        if (reference != nullptr) {
            frames_ = line.Device(device_.address).Stats().framesReceived;
        }
        line.Stop();
        if (auto bad = Misbehaved(finished, settings_.hangLimit)) {
            return *bad;
        }
        if (finished.code == kFailedReading) {
            const std::vector<std::string> left = Leftovers(folder.Path(), kOutFiles);
            if (!left.empty()) {
                return Bad("a failed reading left " + left.front());
            }
            return Clean("exit status 255, no data file");
        }
        if (finished.code != 0) {
            return Bad("exit status " + std::to_string(finished.code));
        }
        if (LastLine(finished.printed) != "OK") {
            return Bad("success without \"OK\": " + LastLine(finished.printed));
        }
        if (reference != nullptr) {
            *reference = FileBytes(output);
            return Right();
        }
        if (FileBytes(output) != reference_) {
            return Bad("the data file differs from the fault-free reading");
        }
        return Right();
    }

    SoakSettings settings_;
    emulators::HcConfig device_;
    Bytes reference_;
    unsigned frames_ = 0;
};

class UpdRoad : public Road {
  public:
    explicit UpdRoad(const SoakSettings& settings)
        : settings_(settings),
          archive_(emulators::MakeUpdArchive("SOAK", SoakDevice(60, settings.hourlyRecords))) {}

    void Prepare() override {
        testsupport::ScratchFolder folder;
        const fs::path dump = folder.Path() / "dump";
        std::ofstream(dump, std::ios::binary)
            .write(reinterpret_cast<const char*>(archive_.bytes.data()),
                   static_cast<std::streamsize>(archive_.bytes.size()));
        if (!protocol::CTV540v60Upd().ConvertDump(dump, platform::IniFile())) {
            throw std::runtime_error("the emulated dump does not convert");
        }
        converted_ = FileBytes(dump);
        const RunResult result = Download({});
        if (result.verdict != Verdict::Right) {
            throw std::runtime_error("the fault-free download failed: " + result.detail);
        }
    }

    RunResult Run(std::mt19937& random, const FaultMix& mix, std::string& faults) override {
        const auto blocks = static_cast<unsigned>(archive_.bytes.size() / 16);
        const emulators::UpdFaults plan = PlanUpdFaults(random, mix, blocks);
        faults = Describe(plan);
        return Download(plan);
    }

  private:
    RunResult Download(const emulators::UpdFaults& plan) {
        testsupport::ScratchFolder folder;
        emulators::UpdLine line({archive_}, plan);
        const Finished finished =
            RunProgram({settings_.fenlor.string(), "4", std::to_string(settings_.baud), "0", "200",
                        "1", "dat"},
                       "CALVIX_COM4", line.SlavePath(), folder.Path(), settings_.hangLimit);
        line.Stop();
        if (auto bad = Misbehaved(finished, settings_.hangLimit)) {
            return *bad;
        }
        if (finished.code != 0) {
            return Bad("exit status " + std::to_string(finished.code));
        }
        const fs::path dat = folder.Path() / "dat";
        if (!fs::exists(dat)) {
            const std::vector<std::string> left = Leftovers(folder.Path(), kOutFiles);
            if (!left.empty()) {
                return Bad("a failed download left " + left.front());
            }
            // After the catalog fenlor prints each block's number; a message ends a failure
            // before the blocks.
            const std::string last = LastLine(finished.printed);
            const bool inBlocks = last.find_first_not_of("0123456789 ") == std::string::npos;
            return Clean(inBlocks ? "no file, broken off in the blocks" : "no file: " + last);
        }
        const std::vector<std::string> left =
            Leftovers(folder.Path(), {"program.out", "program.out.err", "dat"});
        if (!left.empty()) {
            return Bad("a download left " + left.front());
        }
        if (FileBytes(dat) != archive_.bytes) {
            return Bad("the downloaded dump differs from the device's archive");
        }
        if (!protocol::CTV540v60Upd().ConvertDump(dat, platform::IniFile()) ||
            FileBytes(dat) != converted_) {
            return Bad("the downloaded dump does not convert as the archive does");
        }
        return Right();
    }

    SoakSettings settings_;
    emulators::UpdArchive archive_;
    Bytes converted_;
};

}  // namespace

std::unique_ptr<Road> MakeQuellarRoad(const SoakSettings& settings) {
    return std::make_unique<QuellarRoad>(settings);
}

std::unique_ptr<Road> MakeUpdRoad(const SoakSettings& settings) {
    return std::make_unique<UpdRoad>(settings);
}

}  // namespace soak
