// The help texts that F1 shows for each part of the main window.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "gui/rules/work_state.h"

namespace calvix {

enum class HelpCondition {
    AnyState,
    ArchiveState,  // WorkState 0
    OtherStates,   // any WorkState but 0
};

struct HelpEntry {
    Panel panel;
    HelpCondition condition;
    std::string_view text;  // 1251, lines broken by "\n"
};

// The fourteen texts in the order they are tested.
std::span<const HelpEntry> HelpTable();

// The text for what is visible: the last entry in table order whose panel is visible and whose
// condition holds; empty when none is.
std::string HelpTextFor(const std::function<bool(Panel)>& isVisible, WorkState workState);

}  // namespace calvix
