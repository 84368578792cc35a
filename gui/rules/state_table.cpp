#include "gui/rules/state_table.h"

namespace calvix {

std::string_view PanelName(Panel panel) {
    switch (panel) {
        case Panel::None:
            return "";
        case Panel::SelectMode:
            return "panSelectMode";
        case Panel::Wait:
            return "panWait";
        case Panel::SelectArchiv:
            return "panSelectArchiv";
        case Panel::Report:
            return "panReport";
        case Panel::ViewReport:
            return "panViewReport";
        case Panel::Text:
            return "panText";
        case Panel::HCError:
            return "panHCError";
        case Panel::HCWork:
            return "panHCWork";
        case Panel::HCConfig:
            return "panHCConfig";
        case Panel::HCAutoSearch:
            return "panHCAutoSearch";
        case Panel::HCErrorSearch:
            return "panHCErrorSearch";
        case Panel::HCCurrent:
            return "panHCCurrent";
        case Panel::HCWait:
            return "panHCWait";
        case Panel::HCQuestion:
            return "panHCQuestion";
        case Panel::HCDateSelect:
            return "panHCDateSelect";
        case Panel::HCAnyDay:
            return "panHCAnyDay";
        case Panel::HCReportWait:
            return "panHCReportWait";
    }
    return "";
}

namespace {

constexpr Transition kTable[] = {
    {NavButton::btReturnSA, Panel::SelectArchiv, kAnyState, kStateUnchanged, Panel::SelectMode,
     kCaptionBack},
    {NavButton::btReturnR, Panel::Report, WorkState::stArchive, kStateUnchanged, Panel::SelectMode,
     kCaptionBack},
    {NavButton::btReturnR, Panel::Report, WorkState::stUpdReports, kStateUnchanged,
     Panel::SelectArchiv, kSaveTemplateMarks | kFocusList},
    {NavButton::btReturnR, Panel::Report, WorkState::stHCReports, kStateUnchanged, Panel::HCWork,
     kSaveTemplateMarks},
    {NavButton::btCalendarR, Panel::Report, WorkState::stUpdReports, WorkState::stUpdHourly,
     Panel::HCDateSelect, kClearDateList},
    {NavButton::btCalendarR, Panel::Report, WorkState::stHCReports, WorkState::stHCHourly,
     Panel::HCDateSelect, kClearDateList},
    {NavButton::btSeveralDaysR, Panel::Report, WorkState::stUpdReports, WorkState::stUpdSeveralDays,
     Panel::HCAnyDay, kNoEffect},
    {NavButton::btSeveralDaysR, Panel::Report, WorkState::stHCReports, WorkState::stHCSeveralDays,
     Panel::HCAnyDay, kNoEffect},
    {NavButton::btReturnText, Panel::Text, WorkState::stArchive, kStateUnchanged, Panel::Report,
     kStartFolder},
    {NavButton::btReturnText, Panel::Text, WorkState::stUpdReports, kStateUnchanged, Panel::Report,
     kStartFolder},
    {NavButton::btReturnText, Panel::Text, WorkState::stHCReports, kStateUnchanged, Panel::Report,
     kStartFolder},
    {NavButton::btReturnText, Panel::Text, WorkState::stUpdHourly, kStateUnchanged,
     Panel::HCDateSelect, kNoEffect},
    {NavButton::btReturnText, Panel::Text, WorkState::stHCHourly, kStateUnchanged,
     Panel::HCDateSelect, kNoEffect},
    {NavButton::btReturnText, Panel::Text, WorkState::stUpdSeveralDays, kStateUnchanged,
     Panel::HCAnyDay, kNoEffect},
    {NavButton::btReturnText, Panel::Text, WorkState::stHCSeveralDays, kStateUnchanged,
     Panel::HCAnyDay, kNoEffect},
    {NavButton::btReturnVR, Panel::ViewReport, kAnyState, kStateUnchanged, Panel::Text, kNoEffect},
    {NavButton::btHCDateBack, Panel::HCDateSelect, WorkState::stUpdHourly, WorkState::stUpdReports,
     Panel::Report, kNoEffect},
    {NavButton::btHCDateBack, Panel::HCDateSelect, WorkState::stHCHourly, WorkState::stHCReports,
     Panel::Report, kNoEffect},
    {NavButton::btHCAnyDayBack, Panel::HCAnyDay, WorkState::stUpdSeveralDays,
     WorkState::stUpdReports, Panel::Report, kNoEffect},
    {NavButton::btHCAnyDayBack, Panel::HCAnyDay, WorkState::stHCSeveralDays, WorkState::stHCReports,
     Panel::Report, kNoEffect},
    {NavButton::btHCBack, Panel::HCWork, kAnyState, kStateUnchanged, Panel::SelectMode, kNoEffect},
};

}  // namespace

std::span<const Transition> StateTable() {
    return kTable;
}

std::optional<Transition> FindTransition(NavButton button, WorkState workState) {
    for (const Transition& row : kTable) {
        if (row.button == button && (!row.fromState || *row.fromState == workState)) {
            return row;
        }
    }
    return std::nullopt;
}

int ViewReportTopIndex(int itemIndex) {
    return itemIndex > 5 ? itemIndex - 6 : 0;
}

std::optional<int> NextReportIndex(int itemIndex, int itemCount) {
    if (itemIndex < itemCount - 1) {
        return itemIndex + 1;
    }
    return std::nullopt;
}

std::optional<int> PreviousReportIndex(int itemIndex) {
    if (itemIndex > 0) {
        return itemIndex - 1;
    }
    return std::nullopt;
}

}  // namespace calvix
