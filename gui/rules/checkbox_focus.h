// Focus marks of the report check boxes: when the focus wraps from one end of the list to the
// other while the list is scrolled, it is moved on so that the entered box is in view.
#pragma once

namespace calvix {

enum class BoxRole { First, Middle, Last };

class CheckBoxFocusWrap {
  public:
    enum class Move { Stay, ToFirst, ToLast };

    // A box gets the focus. `scrolledDown`: the list's vertical position is above 0;
    // `lastBelowView`: the last box's top is below the list's client height - 17.
    Move Enter(BoxRole role, bool scrolledDown, bool lastBelowView);
    // A box loses the focus.
    void Leave(BoxRole role);

    bool FirstLeft() const { return firstLeft_; }
    bool LastLeft() const { return lastLeft_; }

  private:
    bool firstLeft_ = false;
    bool lastLeft_ = false;
    bool moving_ = false;  // the next leave is caused by our own move and keeps the marks
};

}  // namespace calvix
