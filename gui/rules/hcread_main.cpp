// hcread: the main window's reading of a heat calculator, from a terminal. In a working folder
// it reads the device that calvix.ini's reading section names (port, speed, address) with the
// same reading worker into "hc\dat1hc" (and the 180-day archive into "hc\dat2hc"), then prints
// what the report selection window would offer, one tab-separated line each (UTF-8):
//   take <dd.mm.yyyy>, version <n>, deep <0|1>, folder <template folder>,
//   month <template> <caption>, days <template> <caption>
//
//   hcread [--hourly] [--only-period]
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/scheduled_read.h"
#include "gui/rules/configuration.h"
#include "gui/rules/report_correction.h"
#include "gui/rules/report_dates.h"
#include "platform/codepage.h"
#include "platform/event.h"
#include "platform/stop_signals.h"

namespace {

using calvix::Configuration;
using calvix::WorkState;

constexpr int kExitFailure = 1;

std::string Utf8(std::string_view text1251) {
    return platform::Cp1251ToUtf8(text1251);
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
        const auto log = [](std::string_view line) {
            std::fprintf(stderr, "hcread: %.*s\n", static_cast<int>(line.size()), line.data());
        };
        // Killed mid-reading it would leave a partial "hc\dat1hc": stop the reading instead.
        auto stop = std::make_shared<platform::Event>(platform::Event::Kind::kManualReset);
        platform::StopOnSignals(stop);
        if (!calvix::ReadConfiguredDevice(config, hourly, onlyPeriod, log, stop) ||
            platform::StopSignal() != 0) {
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
