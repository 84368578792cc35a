#include "telephony/line_timings.h"

#include <mutex>

namespace telephony {
namespace {

std::mutex& TimingsMutex() {
    static std::mutex mutex;
    return mutex;
}

LineTimings& CurrentTimings() {
    static LineTimings timings;
    return timings;
}

}  // namespace

LineTimings GetLineTimings() {
    std::lock_guard lock(TimingsMutex());
    return CurrentTimings();
}

void SetLineTimings(const LineTimings& timings) {
    std::lock_guard lock(TimingsMutex());
    CurrentTimings() = timings;
}

}  // namespace telephony
