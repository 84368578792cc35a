#include "tests/soak/soak_road.h"

#include <fstream>
#include <iterator>

namespace soak {

namespace fs = std::filesystem;

Bytes FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) {
        trimmed.pop_back();
    }
    const auto end = trimmed.find_last_of('\n');
    return end == std::string::npos ? trimmed : trimmed.substr(end + 1);
}

namespace {

unsigned Entries(const char* folder) {
    std::error_code error;
    unsigned count = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        ++count;
    }
    return count;
}

}  // namespace

std::vector<std::string> OpenDescriptors() {
    std::vector<std::string> open;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(it->path(), unreadable);
        open.push_back(it->path().filename().string() + " -> " + target.string());
    }
    return open;
}

unsigned Threads() {
    return Entries("/proc/self/task");
}

bool SanitizerReport(const std::string& text) {
    return text.find("Sanitizer") != std::string::npos ||
           text.find("runtime error:") != std::string::npos;
}

std::vector<std::string> Leftovers(const fs::path& folder,
                                   const std::vector<std::string>& allowed) {
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_directory()) {
            continue;
        }
        const std::string name = fs::relative(entry.path(), folder).string();
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            left.push_back(name);
        }
    }
    return left;
}

RunResult Right() {
    return {Verdict::Right, {}};
}

RunResult Clean(std::string detail) {
    return {Verdict::CleanFailure, std::move(detail)};
}

RunResult Bad(std::string detail) {
    return {Verdict::Bad, std::move(detail)};
}

emulators::HcConfig SoakDevice(int version, unsigned hourlyRecords) {
    emulators::HcConfig config;
    config.version = version;
    config.seed = 17;
    config.clockEpoch = 1733580000;  // 2024-12-07 14:00:00 UTC
    config.frozenClock = true;
    config.hourlyRecords = hourlyRecords;
    return config;
}

std::unique_ptr<Road> MakeRoad(const std::string& name, const SoakSettings& settings) {
    if (name == "quellar") {
        return MakeQuellarRoad(settings);
    }
    if (name == "upd") {
        return MakeUpdRoad(settings);
    }
    if (name == "gui60" || name == "gui53") {
        return MakeWorkerRoad(name == "gui60" ? 60 : 53, false, settings);
    }
    if (name == "modem") {
        return MakeWorkerRoad(60, true, settings);
    }
    return nullptr;
}

}  // namespace soak
