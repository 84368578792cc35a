#include "reading/ureadhc.h"

#include <memory>
#include <utility>

namespace reading {

workers::WorkerThread CThreadReadHCArchive::Start(ReadSettings settings, ReadCallbacks callbacks,
                                                  ReadEnvironment environment) {
    (void)settings;
    (void)environment;
    auto control = std::make_shared<workers::WorkerControl>();
    return workers::WorkerThread(control, [cb = std::move(callbacks)]() {
        auto end = [&cb] {
            if (cb.finished) {
                cb.finished(false, "not built yet");
            }
        };
        if (cb.runOnMainThread) {
            cb.runOnMainThread(end);
        } else {
            end();
        }
    });
}

std::uint32_t ModemSlotOf(std::string_view portName) {
    (void)portName;
    return 0;
}

}  // namespace reading
