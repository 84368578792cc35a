// One road of the soak: a reading that runs again and again against emulators with random
// faults, each run judged against a fault-free reading of the same emulated device.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/soak/fault_plan.h"

namespace soak {

enum class Verdict { Right, CleanFailure, Bad };

struct RunResult {
    Verdict verdict = Verdict::Bad;
    std::string detail;  // the failure as reported, or what made the run BAD
};

struct SoakSettings {
    unsigned baud = 9600;
    unsigned hourlyRecords = 24;
    std::chrono::seconds hangLimit{900};  // far beyond any reading's own time-outs
    std::filesystem::path quellar, fenlor, tarvex, siteFolder;
};

class Road {
  public:
    virtual ~Road() = default;
    // The fault-free reading every run is compared with; throws when it fails.
    virtual void Prepare() = 0;
    virtual RunResult Run(std::mt19937& random, const FaultMix& mix, std::string& faults) = 0;
};

// "quellar", "gui60", "gui53", "modem" or "upd"; null for another name.
std::unique_ptr<Road> MakeRoad(const std::string& name, const SoakSettings& settings);

// ---- Shared by the roads --------------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

Bytes FileBytes(const std::filesystem::path& path);
std::string FileText(const std::filesystem::path& path);
std::string LastLine(const std::string& text);
// Open descriptors ("fd -> target") and threads of this process, for leaks between runs.
std::vector<std::string> OpenDescriptors();
unsigned Threads();
// A sanitizer or UB report in a child's standard error.
bool SanitizerReport(const std::string& text);
// Files in `folder` (recursively) other than `allowed`; a failed reading leaves none.
std::vector<std::string> Leftovers(const std::filesystem::path& folder,
                                   const std::vector<std::string>& allowed);

RunResult Right();
RunResult Clean(std::string detail);
RunResult Bad(std::string detail);

// The emulated device of a road: seeded, its clock standing still.
emulators::HcConfig SoakDevice(int version, unsigned hourlyRecords);

std::unique_ptr<Road> MakeQuellarRoad(const SoakSettings& settings);
std::unique_ptr<Road> MakeUpdRoad(const SoakSettings& settings);
std::unique_ptr<Road> MakeWorkerRoad(int version, bool throughModem, const SoakSettings& settings);

}  // namespace soak
