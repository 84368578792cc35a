// CThreadReadCurrentValues: reads a heat calculator's current values again and again over a COM
// port or a modem call, on a thread of its own, until the operator stops it or the link fails.
// It hands what it read to the window through callbacks; turning the answers into field texts
// is the window's (gui/rules/current_values.h). Ownership and shut-down: workers/worker_thread.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/ini_file.h"
#include "protocol/utv540.h"
#include "reading/device_link_settings.h"
#include "workers/worker_thread.h"

namespace reading {

class ModemLibrary;

// What the main window hands over at "Старт" (copied once, on the main thread).
struct CurrentValuesSettings : DeviceLinkSettings {
    // The configured device type ("тип", 1251).
    std::string deviceType;
    // "вид представления текущих данных"; re-read once the device answered when
    // `reloadDisplayMode` is set (it runs on the main thread, given the device's version).
    int displayMode = 1;
    std::function<int(int version)> reloadDisplayMode;
    // Until the first unit query succeeds: gigajoules.
    bool gigajoules = true;
};

// How to read an answer of the current-values command.
struct CurrentValuesFormat {
    int version = 0;
    bool wiLayout = false;  // device type "TV540WI"
    bool gigajoules = true;
};

// Called on the main thread (through `runOnMainThread`), in the order of the reading.
struct CurrentValuesCallbacks {
    workers::RunOnMainThread runOnMainThread;
    std::function<void(const std::string& text)> status;
    // After every exchange once the device answered: the time since the connection was opened.
    std::function<void(std::chrono::seconds elapsed)> elapsed;
    // The factory-number command's answer (8 bytes, status 1 first).
    std::function<void(std::span<const std::uint8_t> answer)> factoryNumber;
    // "Адрес: " and the installation address, or empty.
    std::function<void(const std::string& text)> address;
    // One answer of the current-values command (77 bytes, status byte first).
    std::function<void(std::span<const std::uint8_t> answer, const CurrentValuesFormat& format)>
        values;
    // The 20 fields: white after an answer, yellow after a failed request.
    std::function<void(bool white)> fieldColour;
    // After every exchange attempt: the activity lamp (and the fields' colour with it).
    std::function<void(bool ok)> exchange;
    // Exactly once: the status text to show; `stopped` when the operator asked to stop.
    std::function<void(const std::string& message, bool stopped)> finished;
};

struct CurrentValuesEnvironment {
    // The modem road; null or not loaded: a modem reading fails with its message.
    ModemLibrary* modem = nullptr;
    // The link's waits; tests shorten them.
    protocol::LinkWaits waits;
    // The operator's "Назад"; must outlive the worker's start. May be null.
    std::shared_ptr<platform::Event> stopEvent;
};

class CThreadReadCurrentValues {
  public:
    // Starts the reading at once. Throws std::system_error when no thread can be made (then no
    // callback is ever called).
    [[nodiscard]] static workers::WorkerThread Start(CurrentValuesSettings settings,
                                                     CurrentValuesCallbacks callbacks,
                                                     CurrentValuesEnvironment environment);
};

}  // namespace reading
