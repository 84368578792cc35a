// hcread: the main window's reading of a heat calculator, from a terminal. In a working folder
// it reads the device that calvix.ini's reading section names (port, speed, address) with the
// same reading worker into "hc\dat1hc" (and the 180-day archive into "hc\dat2hc"), then prints
// what the report selection window would offer, one tab-separated line each (UTF-8):
//   take <dd.mm.yyyy>, version <n>, deep <0|1>, folder <template folder>,
//   month <template> <caption>, days <template> <caption>
//
//   hcread [--hourly] [--only-period]
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "gui/rules/configuration.h"
#include "gui/rules/read_settings.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_dates.h"
#include "platform/codepage.h"
#include "reading/modem_library.h"
#include "reading/ureadhc.h"

namespace {

using calvix::Configuration;
using calvix::WorkState;

constexpr int kExitFailure = 1;

std::string Utf8(std::string_view text1251) {
    return platform::Cp1251ToUtf8(text1251);
}

// Runs the reading to its end; the worker's texts go to the terminal.
bool Read(Configuration& config, bool hourly, bool onlyPeriod) {
    reading::ReadSettings settings = MakeReadSettings(config, hourly, onlyPeriod);

    bool succeeded = false;
    std::string lastStatus;  // its first line without digits: one line per step, not per record
    reading::ReadCallbacks callbacks;  // no main thread: every call runs on the worker
    callbacks.progress = [&](const reading::ReadProgress& p) {
        const std::string first = p.statusText.substr(0, p.statusText.find_first_of("\r\n"));
        std::string step = first;
        std::erase_if(step, [](char c) { return c >= '0' && c <= '9'; });
        if (!step.empty() && step != lastStatus) {
            lastStatus = step;
            std::fprintf(stderr, "hcread: %s\n", Utf8(first).c_str());
        }
        return false;
    };
    callbacks.chooseParameterList = [&](char version) {
        config.LoadTemplateSettings(static_cast<unsigned char>(version));
        return onlyPeriod ? config.Templates().configFilePeriod : config.Templates().configFile;
    };
    callbacks.finished = [&](bool ok, const std::string& errorText) {
        succeeded = ok;
        if (!ok) {
            std::fprintf(stderr, "hcread: %s\n", Utf8(errorText).c_str());
        }
    };
    const std::unique_ptr<reading::ModemLibrary> modem = reading::LoadTarvex();
    reading::ReadEnvironment environment;
    environment.modem = modem.get();
    workers::WorkerThread worker = reading::CThreadReadHCArchive::Start(
        std::move(settings), std::move(callbacks), std::move(environment));
    worker.Join();
    return succeeded;
}

void PrintList(const Configuration& config, const std::string& section, const char* kind,
               const calvix::PeriodLabels& labels) {
    const calvix::TemplateList list = config.ReadTemplateList(section);
    for (std::size_t i = 0; i < list.templates.size(); ++i) {
        const std::string caption =
            calvix::ApplyPeriodLabels(calvix::StripSelectedMark(list.captions[i]), labels);
        std::printf("%s\t%s\t%s\n", kind, Utf8(list.templates[i]).c_str(), Utf8(caption).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool hourly = false;
    bool onlyPeriod = false;
    for (const std::string_view arg : std::vector<std::string_view>(argv + 1, argv + argc)) {
        if (arg == "--hourly") {
            hourly = true;
        } else if (arg == "--only-period") {
            onlyPeriod = true;
        } else {
            std::fprintf(stderr, "usage: hcread [--hourly] [--only-period]\n");
            return kExitFailure;
        }
    }
    try {
        Configuration config("calvix.ini");
        config.LoadConnectionSettings(WorkState::stHCReports);
        if (!Read(config, hourly, onlyPeriod)) {
            return kExitFailure;
        }
        const calvix::DataFileFacts facts =
            calvix::InspectDataFile("hc/dat1hc", config.Connection().deviceType);
        config.LoadTemplateSettings(facts.deviceVersion);
        std::printf("take\t%s\nversion\t%d\ndeep\t%d\nfolder\t%s\n",
                    calvix::ShortDate(facts.dataTakeDate).c_str(), facts.deviceVersion,
                    facts.deepArchiveMode ? 1 : 0, Utf8(config.Templates().templateFolder).c_str());
        const calvix::PeriodLabels labels = calvix::MakePeriodLabels(facts);
        PrintList(config, config.Templates().templateList, "month", labels);
        PrintList(config, config.Templates().severalDayTemplateList, "days", labels);
        return std::fflush(stdout) == 0 ? 0 : kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hcread: %s\n", Utf8(e.what()).c_str());
    }
    return kExitFailure;
}
