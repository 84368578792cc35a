// Where the data of the main window come from, and its work panels.
#pragma once

#include <cstdint>
#include <string_view>

namespace calvix {

// The main window's work state: where the current data come from and which report window
// applies. The report archive, data of the УПД or of the heat calculator (report choice, hourly
// reports, several-day reports).
enum class WorkState : std::uint8_t {
    stArchive = 0,
    stUpdReports = 1,
    stUpdHourly = 2,
    stUpdSeveralDays = 3,
    stHCReports = 4,
    stHCHourly = 5,
    stHCSeveralDays = 6,
};

// The panel that "Дальше" of the error panel shows after a heat-calculator worker wrote its
// message as the panel's caption.
enum class HCErrorReturn { HCWork, HCAutoSearch, HCCurrent };

// The work panels of panMain; one is shown at a time.
enum class Panel {
    None,
    SelectMode,
    Wait,
    SelectArchiv,
    Report,
    ViewReport,
    Text,
    HCError,
    HCWork,
    HCConfig,
    HCAutoSearch,
    HCErrorSearch,
    HCCurrent,
    HCWait,
    HCQuestion,
    HCDateSelect,
    HCAnyDay,
    HCReportWait,
};

inline constexpr Panel kAllPanels[] = {
    Panel::SelectMode,   Panel::Wait,         Panel::SelectArchiv,  Panel::Report,
    Panel::ViewReport,   Panel::Text,         Panel::HCError,       Panel::HCWork,
    Panel::HCConfig,     Panel::HCAutoSearch, Panel::HCErrorSearch, Panel::HCCurrent,
    Panel::HCWait,       Panel::HCQuestion,   Panel::HCDateSelect,  Panel::HCAnyDay,
    Panel::HCReportWait,
};

// The panel's control name ("panReport"); empty for Panel::None.
std::string_view PanelName(Panel panel);

}  // namespace calvix
