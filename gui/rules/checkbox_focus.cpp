#include "gui/rules/checkbox_focus.h"

namespace calvix {

CheckBoxFocusWrap::Move CheckBoxFocusWrap::Enter(BoxRole role, bool scrolledDown,
                                                 bool lastBelowView) {
    if (role == BoxRole::First && lastLeft_ && scrolledDown) {
        moving_ = true;
        return Move::ToLast;
    }
    if (role == BoxRole::Last && firstLeft_ && lastBelowView) {
        moving_ = true;
        return Move::ToFirst;
    }
    return Move::Stay;
}

void CheckBoxFocusWrap::Leave(BoxRole role) {
    if (moving_) {
        moving_ = false;
        return;
    }
    firstLeft_ = role == BoxRole::First;
    lastLeft_ = role == BoxRole::Last;
}

}  // namespace calvix
