// Load and unload, the message thread, and the clock and waits that tests may replace.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cxxabi.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <system_error>

#include "modem/call_control.h"
#include "modem/history.h"
#include "modem/modem_state.h"
#include "modem/tarvex_internal.h"

extern "C" {
extern void* __dso_handle;  // this library's, from the C runtime
}

namespace tarvex {
namespace {

using std::chrono::milliseconds;

std::atomic<Library*> loaded{nullptr};

struct Hooks {
    std::mutex mutex;
    Timings timings;
    std::function<std::uint32_t()> tickMs;
    std::function<LocalTime()> now;
    bool eventsFail = false;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

void UnloadAtExit(void*) {
    internal::Unload();
}

std::uint32_t RealTickMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalTime RealNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm tm{};
    if (localtime_r(&seconds, &tm) == nullptr) {
        return {};
    }
    LocalTime time;
    time.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    time.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    time.day = static_cast<std::uint16_t>(tm.tm_mday);
    time.hour = static_cast<std::uint16_t>(tm.tm_hour);
    time.minute = static_cast<std::uint16_t>(tm.tm_min);
    time.second = static_cast<std::uint16_t>(std::min(tm.tm_sec, 59));
    time.millisecond = static_cast<std::uint16_t>(
        duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return time;
}

// Waits up to `ms` for either event without taking it.
bool EitherSet(const platform::Event& a, const platform::Event& b, int ms) {
    pollfd fds[2] = {{a.Fd(), POLLIN, 0}, {b.Fd(), POLLIN, 0}};
    return ::poll(fds, 2, ms) > 0;
}

// The lock for the message thread: it gives up when a stop or a shutdown request comes while it
// waits, since the export that holds the lock may be the one waiting for its acknowledgement.
bool AcquireForThread(Library& library) {
    while (!library.lock.try_lock()) {
        if (EitherSet(library.stop, library.shutdownRequest, 2)) {
            return false;
        }
    }
    return true;
}

int MakePeriodicTimer() {
    const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer < 0) {
        return -1;
    }
    const std::uint32_t periodMs = std::max<std::uint32_t>(1, CurrentTimings().periodicCheckMs);
    itimerspec spec{};
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000;
    spec.it_value = spec.it_interval;
    if (::timerfd_settime(timer, 0, &spec, nullptr) != 0) {
        ::close(timer);
        return -1;
    }
    return timer;
}

void Drain(Library& library) {
    if (!AcquireForThread(library)) {
        return;
    }
    const std::uint32_t app = library.lineApp;
    telephony::LineMessage message;
    try {
        while (library.tapiInitialised && telephony::LineGetMessage(app, message, 0) == 0) {
            HandleMessage(library, message);
        }
    } catch (...) {
        // A message that could not be handled is lost, as a full queue would lose it.
    }
    library.lock.unlock();
}

void RunPeriodicCheck(Library& library) {
    if (!AcquireForThread(library)) {
        return;
    }
    try {
        PeriodicCheck(library);
    } catch (...) {
        // The next check comes in a minute.
    }
    library.lock.unlock();
}

// Serves TAPI from its start to its shutdown. False when the thread is to end.
bool ServeTapi(Library& library) {
    if (!AcquireForThread(library)) {
        return !library.stop.IsSet();
    }
    const std::shared_ptr<platform::Event> tapiEvent = library.tapiEvent;
    library.lock.unlock();
    if (!tapiEvent) {
        return true;
    }
    const int timer = MakePeriodicTimer();
    bool keepRunning = true;
    for (;;) {
        pollfd fds[4] = {{library.stop.Fd(), POLLIN, 0},
                         {library.shutdownRequest.Fd(), POLLIN, 0},
                         {tapiEvent->Fd(), POLLIN, 0},
                         {timer, POLLIN, 0}};
        const int ready = ::poll(fds, timer >= 0 ? 4 : 3, -1);
        if (ready < 0) {
            continue;  // EINTR
        }
        if ((fds[0].revents & POLLIN) != 0 && library.stop.Take()) {
            keepRunning = false;
            break;
        }
        if ((fds[1].revents & POLLIN) != 0 && library.shutdownRequest.Take()) {
            library.shutdownAcknowledge.Set();
            break;
        }
        if ((fds[2].revents & POLLIN) != 0 && tapiEvent->Take()) {
            Drain(library);
        }
        if (timer >= 0 && (fds[3].revents & POLLIN) != 0) {
            std::uint64_t expirations = 0;
            if (::read(timer, &expirations, sizeof expirations) > 0) {
                RunPeriodicCheck(library);
            }
        }
    }
    if (timer >= 0) {
        ::close(timer);
    }
    return keepRunning;
}

void MessageThread(Library* library) {
    // Notifications go to descriptors whose reader may be gone: no SIGPIPE for this thread.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    for (;;) {
        const auto which = platform::WaitForAny(
            {&library->stop, &library->shutdownRequest, &library->tapiReady}, std::nullopt);
        if (!which || *which == 0) {
            break;
        }
        if (*which == 1) {
            library->shutdownAcknowledge.Set();  // nothing to let go of
            continue;
        }
        if (!ServeTapi(*library)) {
            break;
        }
    }
    library->threadEnded.Set();
}

}  // namespace

Library* TheLibrary() {
    return loaded.load();
}

std::uint32_t TickMs() {
    std::function<std::uint32_t()> tick;
    {
        std::lock_guard lock(TheHooks().mutex);
        tick = TheHooks().tickMs;
    }
    return tick ? tick() : RealTickMs();
}

LocalTime Now() {
    std::function<LocalTime()> now;
    {
        std::lock_guard lock(TheHooks().mutex);
        now = TheHooks().now;
    }
    return now ? now() : RealNow();
}

std::shared_ptr<platform::Event> NewEvent() {
    bool fail = false;
    {
        std::lock_guard lock(TheHooks().mutex);
        fail = TheHooks().eventsFail;
    }
    if (fail) {
        throw std::system_error(EMFILE, std::generic_category(), "eventfd");
    }
    return std::make_shared<platform::Event>();
}

Timings CurrentTimings() {
    std::lock_guard lock(TheHooks().mutex);
    return TheHooks().timings;
}

namespace internal {

void SetTimings(const Timings& timings) {
    std::lock_guard lock(TheHooks().mutex);
    TheHooks().timings = timings;
}

void SetEventsFail(bool fail) {
    std::lock_guard lock(TheHooks().mutex);
    TheHooks().eventsFail = fail;
}

void SetClock(std::function<std::uint32_t()> tickMs, std::function<LocalTime()> now) {
    std::lock_guard lock(TheHooks().mutex);
    TheHooks().tickMs = std::move(tickMs);
    TheHooks().now = std::move(now);
}

bool Load() {
    if (loaded.load() != nullptr) {
        return true;
    }
    // What unloading uses is built first, and unloading is registered after it, so that at exit
    // it runs before any of that is destroyed, even when the destructor below comes late. Tied
    // to this library, so that unloading it takes the registration along.
    static const bool registered = [] {
        TheHooks();
        telephony::PrepareLineLayer();
        return abi::__cxa_atexit(UnloadAtExit, nullptr, &__dso_handle) == 0;
    }();
    (void)registered;
    Library* library = nullptr;
    try {
        library = new Library;
        for (std::uint32_t i = 0; i < kSlotCount; ++i) {
            library->slots[i].index = i;
        }
        library->thread = std::thread(MessageThread, library);
    } catch (...) {
        delete library;
        return false;
    }
    loaded.store(library);
    return true;
}

void Unload() {
    Library* library = loaded.exchange(nullptr);
    if (library == nullptr) {
        return;
    }
    library->stop.Set();
    const bool ended = library->threadEnded.Wait(milliseconds(5000));
    if (ended) {
        library->thread.join();
    } else {
        library->thread.detach();  // it still uses the state: leave the state to it
    }
    // The line layer's threads run code of this library: they end before it goes.
    if (library->tapiInitialised) {
        telephony::LineShutdown(library->lineApp);
    }
    for (ModemSlot& slot : library->slots) {
        if (slot.dataHandle != 0) {
            telephony::CommClose(slot.dataHandle);
        }
        CloseHistoryFile(slot);
    }
    if (ended) {
        delete library;
    }
}

bool ViewSlot(std::uint32_t slot, SlotView& view) {
    Library* library = TheLibrary();
    if (library == nullptr || slot >= kSlotCount) {
        return false;
    }
    std::lock_guard lock(library->lock);
    const ModemSlot& s = library->slots[slot];
    view.lineOpen = s.lineOpen;
    view.callValid = s.callValid;
    view.connected = s.connected;
    view.channelOpen = s.channelOpen;
    view.callEnded = s.callEnded;
    view.answerMode = s.answerMode;
    view.offeredPending = s.offeredPending;
    view.usesTapi = s.usesTapi;
    view.answerPending = s.answerPending;
    view.callHandle = s.callHandle;
    view.portNumber = s.portNumber;
    view.deviceMaxRate = s.deviceMaxRate;
    view.connectionRate = s.connectionRate;
    view.tapiInitialised = library->tapiInitialised;
    return true;
}

}  // namespace internal
}  // namespace tarvex

// Loading the library is the process attach, unloading the detach.
__attribute__((constructor)) static void TarvexAttach() {
    tarvex::internal::Load();
}

__attribute__((destructor)) static void TarvexDetach() {
    tarvex::internal::Unload();
}
