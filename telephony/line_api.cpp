// The application and line registry behind the line functions.
#include "telephony/line_api.h"

#include <map>
#include <mutex>
#include <vector>

#include "telephony/data_channel.h"
#include "telephony/line_timings.h"
#include "telephony/message_queue.h"
#include "telephony/modem_config.h"
#include "telephony/modem_line.h"

namespace telephony {
namespace {

constexpr std::string_view kPortNameClass = "comm/datamodem/portname";
constexpr std::string_view kDataModemClass = "comm/datamodem";

struct App {
    std::uint32_t handle = 0;
    std::shared_ptr<MessageQueue> queue;
    std::vector<ModemConfig> devices;
    std::map<std::uint32_t, std::shared_ptr<ModemLine>> lines;
    std::uint32_t nextRequest = 1;
};

// Lock order: the registry's mutex, then a line's, then a queue's. Line workers never take
// the registry's mutex.
struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, std::shared_ptr<App>> apps;
    std::map<std::uint32_t, std::shared_ptr<DataChannel>> dataHandles;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::shared_ptr<App> FindAppLocked(std::uint32_t lineApp) {
    auto& apps = TheRegistry().apps;
    const auto found = apps.find(lineApp);
    return found != apps.end() ? found->second : nullptr;
}

struct LineRef {
    std::shared_ptr<App> app;
    std::shared_ptr<ModemLine> line;
};

LineRef FindLineLocked(std::uint32_t line) {
    for (auto& [handle, app] : TheRegistry().apps) {
        const auto found = app->lines.find(line);
        if (found != app->lines.end()) {
            return {app, found->second};
        }
    }
    return {};
}

LineRef FindCallLocked(std::uint32_t call) {
    for (auto& [handle, app] : TheRegistry().apps) {
        for (auto& [lineHandle, line] : app->lines) {
            if (line->HasCall(call)) {
                return {app, line};
            }
        }
    }
    return {};
}

std::uint32_t NextRequestLocked(App& app) {
    const std::uint32_t id = app.nextRequest;
    app.nextRequest = app.nextRequest >= 0x7FFFFFFF ? 1 : app.nextRequest + 1;
    return id;
}

void Fill(VarString& id, const std::vector<std::uint8_t>& payload) {
    id.neededSize = VarString::kHeaderSize + static_cast<std::uint32_t>(payload.size());
    if (id.totalSize >= id.neededSize) {
        id.payload = payload;
    } else {
        id.payload.clear();
    }
}

std::vector<std::uint8_t> ZeroTerminated(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

}  // namespace

void PrepareLineLayer() {
    TheRegistry();
    GetLineTimings();
}

std::int32_t LineInitializeEx(std::uint32_t& lineApp, std::uint32_t& deviceCount,
                              std::uint32_t& apiVersion, LineInitializeExParams& params) {
    auto app = std::make_shared<App>();
    try {
        app->queue = std::make_shared<MessageQueue>();
    } catch (const std::exception&) {
        return kErrNoMem;
    }
    app->handle = NewHandle();
    app->devices = ConfiguredModems();
    params.event = app->queue->SignalEvent();
    lineApp = app->handle;
    deviceCount = static_cast<std::uint32_t>(app->devices.size());
    apiVersion = kApiVersion;
    std::lock_guard lock(TheRegistry().mutex);
    TheRegistry().apps[app->handle] = app;
    return 0;
}

std::int32_t LineShutdown(std::uint32_t lineApp) {
    std::shared_ptr<App> app;
    {
        std::lock_guard lock(TheRegistry().mutex);
        app = FindAppLocked(lineApp);
        if (!app) {
            return kErrInvalAppHandle;
        }
        TheRegistry().apps.erase(lineApp);
    }
    for (auto& [handle, line] : app->lines) {
        line->Close();
    }
    app->queue->Close();
    return 0;
}

std::int32_t LineNegotiateApiVersion(std::uint32_t lineApp, std::uint32_t deviceId,
                                     std::uint32_t lowVersion, std::uint32_t highVersion,
                                     std::uint32_t& apiVersion) {
    std::lock_guard lock(TheRegistry().mutex);
    const std::shared_ptr<App> app = FindAppLocked(lineApp);
    if (!app) {
        return kErrInvalAppHandle;
    }
    if (deviceId >= app->devices.size()) {
        return kErrBadDeviceId;
    }
    if (lowVersion > kApiVersion || highVersion < kApiVersion) {
        return kErrIncompatibleApiVersion;
    }
    apiVersion = kApiVersion;
    return 0;
}

std::int32_t LineGetDevCaps(std::uint32_t lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                            LineDevCaps& caps) {
    std::lock_guard lock(TheRegistry().mutex);
    const std::shared_ptr<App> app = FindAppLocked(lineApp);
    if (!app) {
        return kErrInvalAppHandle;
    }
    if (deviceId >= app->devices.size()) {
        return kErrBadDeviceId;
    }
    if (apiVersion != kApiVersion) {
        return kErrIncompatibleApiVersion;
    }
    caps.maxRate = app->devices[deviceId].maxRate;
    caps.mediaModes = kMediaModeDataModem;
    caps.lineName = "Hayes modem on " + app->devices[deviceId].portName;
    caps.portName = app->devices[deviceId].portName;
    return 0;
}

std::int32_t LineOpen(std::uint32_t lineApp, std::uint32_t deviceId, std::uint32_t& line,
                      std::uint32_t apiVersion, std::uint32_t privileges, std::uint32_t mediaModes,
                      OpenFault* fault) {
    OpenFault ignored = OpenFault::kNone;
    OpenFault& why = fault != nullptr ? *fault : ignored;
    why = OpenFault::kNone;
    ModemConfig config;
    std::shared_ptr<MessageQueue> queue;
    {
        std::lock_guard lock(TheRegistry().mutex);
        const std::shared_ptr<App> app = FindAppLocked(lineApp);
        if (!app) {
            return kErrInvalAppHandle;
        }
        if (deviceId >= app->devices.size()) {
            return kErrBadDeviceId;
        }
        if (apiVersion != kApiVersion) {
            return kErrIncompatibleApiVersion;
        }
        if ((mediaModes & ~kMediaModeDataModem) != 0 || mediaModes == 0) {
            return kErrInvalMediaMode;
        }
        if ((privileges & kPrivilegeOwner) == 0) {
            return kErrInvalParam;
        }
        config = app->devices[deviceId];
        queue = app->queue;
    }
    // Opening and initialising the modem takes a while: not under the registry's lock.
    const std::uint32_t handle = NewHandle();
    std::int32_t error = 0;
    std::shared_ptr<ModemLine> opened = ModemLine::Open(handle, config, queue, error, why);
    if (!opened) {
        return error;
    }
    {
        std::lock_guard lock(TheRegistry().mutex);
        const std::shared_ptr<App> app = FindAppLocked(lineApp);
        if (app) {
            app->lines[handle] = opened;
            line = handle;
            return 0;
        }
    }
    opened->Close();  // the application was shut down meanwhile
    return kErrInvalAppHandle;
}

std::int32_t LineClose(std::uint32_t line) {
    std::shared_ptr<ModemLine> closing;
    {
        std::lock_guard lock(TheRegistry().mutex);
        LineRef ref = FindLineLocked(line);
        if (!ref.line) {
            return kErrInvalLineHandle;
        }
        ref.app->lines.erase(line);
        closing = ref.line;
    }
    closing->Close();
    return 0;
}

std::int32_t LineGetId(std::uint32_t line, std::uint32_t addressId, std::uint32_t call,
                       std::uint32_t select, VarString& id, std::string_view deviceClass) {
    (void)addressId;
    std::lock_guard lock(TheRegistry().mutex);
    LineRef ref;
    if (select == kCallSelectLine) {
        ref = FindLineLocked(line);
        if (!ref.line) {
            return kErrInvalLineHandle;
        }
    } else if (select == kCallSelectCall) {
        ref = FindCallLocked(call);
        if (!ref.line) {
            return kErrInvalCallHandle;
        }
    } else {
        return kErrInvalParam;
    }
    if (deviceClass == kPortNameClass) {
        Fill(id, ZeroTerminated(ref.line->PortName()));
        return 0;
    }
    if (deviceClass != kDataModemClass || select != kCallSelectCall) {
        return kErrInvalParam;
    }
    const std::shared_ptr<DataChannel> data = ref.line->DataOf(call);
    if (!data) {
        return kErrInvalCallState;
    }
    std::vector<std::uint8_t> payload(4, 0);
    const std::vector<std::uint8_t> name = ZeroTerminated(ref.line->PortName());
    payload.insert(payload.end(), name.begin(), name.end());
    Fill(id, payload);
    if (id.payload.empty()) {
        return 0;  // only the size was asked for: no handle is made
    }
    const std::uint32_t handle = NewHandle();
    for (int i = 0; i < 4; ++i) {
        id.payload[i] = static_cast<std::uint8_t>(handle >> (8 * i));
    }
    TheRegistry().dataHandles[handle] = data;
    return 0;
}

std::int32_t LineGetStatusMessages(std::uint32_t line, std::uint32_t& lineStates,
                                   std::uint32_t& addressStates) {
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindLineLocked(line);
    if (!ref.line) {
        return kErrInvalLineHandle;
    }
    ref.line->GetStatusMessages(lineStates, addressStates);
    return 0;
}

std::int32_t LineSetStatusMessages(std::uint32_t line, std::uint32_t lineStates,
                                   std::uint32_t addressStates) {
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindLineLocked(line);
    if (!ref.line) {
        return kErrInvalLineHandle;
    }
    ref.line->SetStatusMessages(lineStates, addressStates);
    return 0;
}

std::int32_t LineMakeCall(std::uint32_t line, std::uint32_t& call, std::string_view number,
                          std::uint32_t countryCode, const CallParams& params) {
    (void)countryCode;
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindLineLocked(line);
    if (!ref.line) {
        return kErrInvalLineHandle;
    }
    if ((params.mediaMode & kMediaModeDataModem) == 0) {
        return kErrInvalMediaMode;
    }
    if (!IsDialString(number)) {
        return kErrInvalAddress;
    }
    return ref.line->MakeCall(NextRequestLocked(*ref.app), call, std::string(number), params);
}

std::int32_t LineAnswer(std::uint32_t call) {
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindCallLocked(call);
    if (!ref.line) {
        return kErrInvalCallHandle;
    }
    return ref.line->Answer(call, NextRequestLocked(*ref.app));
}

std::int32_t LineDrop(std::uint32_t call) {
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindCallLocked(call);
    if (!ref.line) {
        return kErrInvalCallHandle;
    }
    return ref.line->Drop(call, NextRequestLocked(*ref.app));
}

std::int32_t LineDeallocateCall(std::uint32_t call) {
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindCallLocked(call);
    if (!ref.line) {
        return kErrInvalCallHandle;
    }
    return ref.line->Deallocate(call);
}

std::int32_t LineGetCallInfo(std::uint32_t call, LineCallInfo& info) {
    std::lock_guard lock(TheRegistry().mutex);
    const LineRef ref = FindCallLocked(call);
    if (!ref.line) {
        return kErrInvalCallHandle;
    }
    return ref.line->CallInfo(call, info);
}

std::int32_t LineGetMessage(std::uint32_t lineApp, LineMessage& message, std::uint32_t timeoutMs) {
    std::shared_ptr<MessageQueue> queue;
    {
        std::lock_guard lock(TheRegistry().mutex);
        const std::shared_ptr<App> app = FindAppLocked(lineApp);
        if (!app) {
            return kErrInvalAppHandle;
        }
        queue = app->queue;
    }
    return queue->Take(message, std::chrono::milliseconds(timeoutMs)) ? 0 : kErrOperationFailed;
}

namespace {

std::shared_ptr<DataChannel> FindData(std::uint32_t handle) {
    std::lock_guard lock(TheRegistry().mutex);
    const auto found = TheRegistry().dataHandles.find(handle);
    return found != TheRegistry().dataHandles.end() ? found->second : nullptr;
}

}  // namespace

bool CommSetTimeouts(std::uint32_t handle, const platform::CommTimeouts& timeouts) {
    const std::shared_ptr<DataChannel> data = FindData(handle);
    if (!data) {
        return false;
    }
    data->SetTimeouts(timeouts);
    return true;
}

CommTransfer CommRead(std::uint32_t handle, std::uint8_t* buffer, std::size_t count,
                      std::chrono::milliseconds limit) {
    const std::shared_ptr<DataChannel> data = FindData(handle);
    if (!data || buffer == nullptr) {
        return {};
    }
    return data->Read(buffer, count, limit);
}

CommTransfer CommWrite(std::uint32_t handle, const std::uint8_t* buffer, std::size_t count,
                       std::chrono::milliseconds limit) {
    const std::shared_ptr<DataChannel> data = FindData(handle);
    if (!data || buffer == nullptr) {
        return {};
    }
    return data->Write(buffer, count, limit);
}

bool CommClose(std::uint32_t handle) {
    std::lock_guard lock(TheRegistry().mutex);
    return TheRegistry().dataHandles.erase(handle) > 0;
}

}  // namespace telephony
