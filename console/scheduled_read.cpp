#include "console/scheduled_read.h"

#include <exception>
#include <future>
#include <memory>

#include "gui/rules/read_settings.h"
#include "platform/codepage.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"
#include "workers/uthreadextproc.h"

namespace calvix {

bool ReadConfiguredDevice(Configuration& config, bool readHourly, bool onlyPeriod,
                          const ConsoleLog& log, std::shared_ptr<platform::Event> stopEvent) {
    reading::ReadSettings settings = MakeReadSettings(config, readHourly, onlyPeriod);
    bool succeeded = false;
    std::string lastStep;              // the status's first line without digits
    reading::ReadCallbacks callbacks;  // no main thread: every call runs on the worker
    callbacks.progress = [&, stopEvent](const reading::ReadProgress& p) {
        const std::string first = p.statusText.substr(0, p.statusText.find_first_of("\r\n"));
        std::string step = first;
        std::erase_if(step, [](char c) { return c >= '0' && c <= '9'; });
        if (!step.empty() && step != lastStep) {
            lastStep = step;
            log(platform::Cp1251ToUtf8(first));
        }
        return stopEvent != nullptr && stopEvent->IsSet();
    };
    callbacks.chooseParameterList = [&](char version) {
        config.LoadTemplateSettings(static_cast<unsigned char>(version));
        return onlyPeriod ? config.Templates().configFilePeriod : config.Templates().configFile;
    };
    callbacks.finished = [&](bool ok, const std::string& errorText) {
        succeeded = ok;
        if (!ok) {
            log(platform::Cp1251ToUtf8(errorText));
        }
    };
    const std::unique_ptr<reading::ModemLibrary> modem = reading::LoadTarvex();
    reading::ReadEnvironment environment;
    environment.modem = modem.get();
    environment.stopEvent = std::move(stopEvent);
    workers::WorkerThread worker = reading::CThreadReadHCArchive::Start(
        std::move(settings), std::move(callbacks), std::move(environment));
    worker.Join();
    return succeeded;
}

bool RunReportBuilder(const std::string& commandLine, const std::filesystem::path& folder) {
    auto ended = std::make_shared<std::promise<bool>>();
    std::future<bool> result = ended->get_future();
    workers::ExtProcSetup setup;  // no main thread: the end callback runs on the worker
    setup.workingFolder = folder;
    try {
        workers::WorkerThread worker = workers::CThreadExtProc::StartSingle(
            commandLine, workers::kBuilderBudgetSeconds, nullptr,
            [ended](void*, bool succeeded) { ended->set_value(succeeded); }, std::move(setup));
        const bool succeeded = result.get();
        worker.Join();
        return succeeded;
    } catch (const std::exception&) {
        return false;  // no thread: no run
    }
}

}  // namespace calvix
