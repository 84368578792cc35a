#include "gui/rules/activity_lamp.h"

namespace calvix {

ActivityLampState::Look ActivityLampState::Update(bool ok, Clock::time_point now) {
    constexpr auto kBlink = std::chrono::milliseconds(500);
    if (!seen_ || ok != ok_) {
        seen_ = true;
        ok_ = ok;
        visible_ = true;
        changed_ = now;
    } else if (now - changed_ > kBlink) {
        visible_ = !visible_;
        changed_ = now;
    }
    return {visible_, ok_};
}

}  // namespace calvix
