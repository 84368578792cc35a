#include "tests/soak/fault_plan.h"

#include <array>
#include <cmath>
#include <sstream>

namespace soak {

namespace {

using emulators::Fault;
using emulators::FaultKind;

struct Weighted {
    FaultKind kind;
    double weight;
    const char* name;
};

// Lost and spoiled answers are what long lines mostly do; storms, silence and a vanishing
// adapter are rarer but cost the most.
constexpr std::array<Weighted, 8> kKinds{{
    {FaultKind::BadChecksum, 3, "bad-checksum"},
    {FaultKind::LostAnswer, 3, "lost-answer"},
    {FaultKind::Truncated, 3, "truncated"},
    {FaultKind::Garbage, 2, "garbage"},
    {FaultKind::WrongHead, 1, "wrong-head"},
    {FaultKind::StatusZeroStorm, 2, "status-zero"},
    {FaultKind::Silence, 1, "silence"},
    {FaultKind::LineGone, 0.2, "line-gone"},
}};

const char* NameOf(FaultKind kind) {
    for (const Weighted& w : kKinds) {
        if (w.kind == kind) {
            return w.name;
        }
    }
    return "?";
}

unsigned Uniform(std::mt19937& random, unsigned low, unsigned high) {
    return std::uniform_int_distribution<unsigned>(low, high)(random);
}

Fault DrawFault(std::mt19937& random, bool lineMayVanish) {
    std::vector<double> weights;
    for (const Weighted& w : kKinds) {
        weights.push_back(w.kind == FaultKind::LineGone && !lineMayVanish ? 0 : w.weight);
    }
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    Fault fault;
    fault.kind = kKinds[pick(random)].kind;
    if (fault.kind == FaultKind::StatusZeroStorm) {
        fault.count = Uniform(random, 1, 40);
    } else if (fault.kind == FaultKind::Silence) {
        fault.durationMs = Uniform(random, 500, 5000);
    } else {
        fault.count = Uniform(random, 1, 10) == 1 ? Uniform(random, 2, 4) : 1;
    }
    return fault;
}

}  // namespace

std::vector<Fault> PlanDeviceFaults(std::mt19937& random, const FaultMix& mix, unsigned frames) {
    std::vector<Fault> faults;
    if (mix.rate <= 0) {
        return faults;
    }
    // Gaps count from the end of the previous fault, as the device takes its queue.
    std::geometric_distribution<unsigned> gap(std::min(mix.rate, 1.0));
    for (unsigned at = 0;;) {
        const unsigned untouched = gap(random);
        if (at + untouched >= frames) {
            return faults;
        }
        Fault fault = DrawFault(random, mix.lineMayVanish);
        fault.afterFrames = untouched;
        faults.push_back(fault);
        if (fault.kind == FaultKind::LineGone) {
            return faults;
        }
        const bool once =
            fault.kind == FaultKind::Silence || fault.kind == FaultKind::StatusZeroStorm;
        at += untouched + (once ? 1 : fault.count);
    }
}

emulators::UpdFaults PlanUpdFaults(std::mt19937& random, const FaultMix& mix, unsigned blocks) {
    emulators::UpdFaults faults;
    // Any broken block fails a download, so a block fault strikes about one download in two
    // at the default rate, anywhere in the archive.
    std::bernoulli_distribution blockHit(std::min(mix.rate * 50, 1.0));
    if (blockHit(random)) {
        const unsigned b = Uniform(random, 1, blocks);
        switch (Uniform(random, 0, mix.lineMayVanish ? 4 : 3)) {
            case 0:
                faults.badBlock = b;
                break;
            case 1:
                faults.shortBlock = b;
                break;
            case 2:
                faults.garbageBeforeBlock = b;
                break;
            case 3:
                faults.silentFromBlock = b;
                break;
            default:
                faults.lineGoneAtBlock = b;
                break;
        }
    }
    // The catalog's two exchanges are hit as often as any frame.
    std::bernoulli_distribution hit(std::min(mix.rate, 1.0));
    if (hit(random)) {
        faults.badEntry = 1;
    }
    if (hit(random)) {
        faults.noAcknowledgement = true;
    }
    return faults;
}

std::optional<std::chrono::milliseconds> PlanCarrierDrop(std::mt19937& random, const FaultMix& mix,
                                                         std::chrono::milliseconds reading) {
    // About as often as a reading of a hundred frames meets a fault.
    std::bernoulli_distribution drop(std::min(mix.rate * 10, 1.0));
    if (!drop(random)) {
        return std::nullopt;
    }
    const auto span = static_cast<unsigned>(std::max<long long>(reading.count(), 1));
    return std::chrono::milliseconds(Uniform(random, 0, span));
}

std::string Describe(const std::vector<Fault>& faults) {
    std::ostringstream text;
    for (const Fault& fault : faults) {
        text << (text.tellp() > 0 ? " " : "") << NameOf(fault.kind);
        if (fault.kind == FaultKind::Silence) {
            text << ':' << fault.durationMs;
        } else if (fault.count != 1 || fault.kind == FaultKind::StatusZeroStorm) {
            text << ':' << fault.count;
        }
        text << '@' << fault.afterFrames;
    }
    return faults.empty() ? "none" : text.str();
}

std::string Describe(const emulators::UpdFaults& faults) {
    std::ostringstream text;
    const auto add = [&](const char* name, const std::optional<unsigned>& block) {
        if (block) {
            text << (text.tellp() > 0 ? " " : "") << name << '@' << *block;
        }
    };
    add("bad-block", faults.badBlock);
    add("short-block", faults.shortBlock);
    add("garbage-before-block", faults.garbageBeforeBlock);
    add("silent-from-block", faults.silentFromBlock);
    add("line-gone-at-block", faults.lineGoneAtBlock);
    add("bad-entry", faults.badEntry);
    if (faults.noAcknowledgement) {
        text << (text.tellp() > 0 ? " " : "") << "no-acknowledgement";
    }
    return text.tellp() > 0 ? text.str() : "none";
}

}  // namespace soak
