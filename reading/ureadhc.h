// CThreadReadHCArchive: reads a heat calculator's archives into "hc\dat1hc" (and the 180-day
// archive into "hc\dat2hc") on a thread of its own, over a COM port or a modem call, while the
// main window stays responsive. Progress, the choice of the parameter list and the end are
// handed to the main thread, and the worker waits for each. Ownership and shut-down: see
// workers/worker_thread.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"
#include "platform/ini_file.h"
#include "reading/device_link_settings.h"
#include "workers/worker_thread.h"

namespace reading {

class ModemLibrary;

// What the main window hands over at creation (copied once, on the main thread).
struct ReadSettings : DeviceLinkSettings {
    std::string readerProgram = "calvix.exe";
    bool readHourly = false;
    bool onlyPeriod = false;
};

// What the progress callback shows (1251 texts).
struct ReadProgress {
    std::string statusText;  // empty: keep the one shown
    std::string timeText;    // "Общее время считывания: M мин S сек"
    int position = 0;
    int maximum = 0;
};

struct ReadCallbacks {
    // Runs a call on the main thread and waits for it; empty runs it on the worker (tests).
    workers::RunOnMainThread runOnMainThread;
    // Main thread: shows progress; true when the operator asked to stop.
    std::function<bool(const ReadProgress&)> progress;
    // Main thread: the device's version character ('<' version 60, '5' version 53, ...);
    // answers the parameter-list file name for it (Windows-style, relative to the folder).
    std::function<std::string(char version)> chooseParameterList;
    // Worker thread, after every exchange: the activity lamp. May be empty.
    std::function<void(bool ok)> exchangeActivity;
    // Main thread, exactly once: the end; `errorText` (1251) is empty on success.
    std::function<void(bool succeeded, const std::string& errorText)> finished;
};

// Waits of the reading that tests shorten; the defaults are the product's.
struct ReadTimings {
    std::chrono::milliseconds lineRetryPause{1000};  // after a failed try of a list line
    std::chrono::milliseconds resyncWait{200};       // modem resynchronisation
    std::chrono::milliseconds listStatusPoll{200};   // a list line's answer still at status 0
    std::chrono::milliseconds mailboxPoll{500};      // the protocol's mailbox polls
    // Between the two writes of a mailbox command; unset: the device's (50 ms, 70 ms for 60).
    std::optional<std::chrono::milliseconds> commandPause;
};

struct ReadEnvironment {
    // "hc\dat1hc", the parameter lists and "hc\dat2hc" are found here.
    std::filesystem::path workFolder = ".";
    // The modem road; null or not loaded: a modem reading fails with a clear message. It must
    // outlive the reading (the worker ends its call when it ends).
    ModemLibrary* modem = nullptr;
    ReadTimings timings;
    // Set by the operator's "Прервать" (with the answer of the next progress call). Until the
    // device has answered it also ends a dial, the pause between tries and the exchanges, so a
    // reading that cannot get going can always be stopped at once. May be null.
    std::shared_ptr<platform::Event> stopEvent;
};

class CThreadReadHCArchive {
  public:
    // Starts the reading at once. Throws std::system_error when no thread can be made (then no
    // callback is ever called).
    [[nodiscard]] static workers::WorkerThread Start(ReadSettings settings, ReadCallbacks callbacks,
                                                     ReadEnvironment environment);
};

// The modem slot of a port name: the number after its first three characters ("COM3" gives
// 3); 0 when that is not a number.
std::uint32_t ModemSlotOf(std::string_view portName);

}  // namespace reading
