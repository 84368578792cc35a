// Random faults for one soak run: which frames of a heat calculator go wrong and how, where a
// data transfer device (УПД) fails, and when a modem loses its carrier.
#pragma once

#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "emulators/hc_device.h"
#include "emulators/upd_line.h"

namespace soak {

struct FaultMix {
    double rate = 0.02;         // probability that a frame (or a block) goes wrong
    bool lineMayVanish = true;  // LineGone is one of the faults
};

// Faults for a device whose fault-free reading takes `frames` frames: gaps between faults are
// geometric with mean 1/rate, kinds drawn by weight.
std::vector<emulators::Fault> PlanDeviceFaults(std::mt19937& random, const FaultMix& mix,
                                               unsigned frames);

// At most one fault of each kind the УПД knows, each block hit with probability `rate`.
emulators::UpdFaults PlanUpdFaults(std::mt19937& random, const FaultMix& mix, unsigned blocks);

// When the far end drops the carrier, counted from the start of the call's reading; none for
// most runs.
std::optional<std::chrono::milliseconds> PlanCarrierDrop(std::mt19937& random, const FaultMix& mix,
                                                         std::chrono::milliseconds reading);

// "bad-checksum@12 silence:2000@3 ..." for the run's log line.
std::string Describe(const std::vector<emulators::Fault>& faults);
std::string Describe(const emulators::UpdFaults& faults);

}  // namespace soak
