// Where the data of the main window come from, and its work panels.
#pragma once

#include <cstdint>
#include <string_view>

namespace calvix {

// The main window's work state: 0 the report archive, 1-3 data of the УПД, 4-6 data of the
// heat calculator (report choice, hourly reports, several-day reports).
enum WorkState : std::uint8_t {
    stArchive = 0,
    stUpdReports = 1,
    stUpdHourly = 2,
    stUpdSeveralDays = 3,
    stHCReports = 4,
    stHCHourly = 5,
    stHCSeveralDays = 6,
};

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
