// Going back and between the windows of the main window: which panel a button shows, how the
// work state changes, and what else happens on the way.
#pragma once

#include <optional>
#include <span>

#include "gui/rules/work_state.h"

namespace calvix {

enum class NavButton {
    btReturnSA,      // archive list of the УПД: back to the mode window
    btReturnR,       // report selection: back
    btCalendarR,     // report selection: hourly reports
    btSeveralDaysR,  // report selection: several-day reports
    btReturnText,    // text window: back
    btReturnVR,      // list of chosen reports: back to the text
    btHCDateBack,    // hourly-date window: back
    btHCAnyDayBack,  // several-days window: back
    btHCBack,        // heat-calculator window: back
};

// What happens besides the change of panel.
enum NavEffect : unsigned {
    kNoEffect = 0,
    kCaptionBack = 1 << 0,        // caption "Программа "Ведар"."
    kSaveTemplateMarks = 1 << 1,  // remember the check-box marks in the configuration
    kClearDateList = 1 << 2,      // empty the hourly dates
    kStartFolder = 1 << 3,        // make the start folder current again
    kFocusList = 1 << 4,          // focus the list of the shown panel
};

// A row for every work state; a row that leaves the work state as it is.
inline constexpr std::optional<WorkState> kAnyState = std::nullopt;
inline constexpr std::optional<WorkState> kStateUnchanged = std::nullopt;

struct Transition {
    NavButton button;
    Panel from;                          // the panel of the button, hidden on the way
    std::optional<WorkState> fromState;  // the work state the row applies to, or kAnyState
    std::optional<WorkState> toState;    // the new work state, or kStateUnchanged
    Panel to;                            // the panel shown
    unsigned effects;
};

// Every row of the table; a button without a row for the current state does nothing.
std::span<const Transition> StateTable();
std::optional<Transition> FindTransition(NavButton button, WorkState workState);

// Index of the list item shown at the top when the list of chosen reports opens.
int ViewReportTopIndex(int itemIndex);
// Item that "Следующий" / "Предыдущий" select, if any.
std::optional<int> NextReportIndex(int itemIndex, int itemCount);
std::optional<int> PreviousReportIndex(int itemIndex);

}  // namespace calvix
