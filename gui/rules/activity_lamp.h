// The activity lamp of a reading window, without the widget.
#pragma once

#include <chrono>

namespace calvix {

// The activity lamp of a reading: after each exchange it shows green (going well) or red; a
// change of colour shows it at once, an unchanged colour blinks it every half second.
class ActivityLampState {
  public:
    using Clock = std::chrono::steady_clock;
    struct Look {
        bool visible = false;
        bool green = false;
    };

    // "Старт": hidden, no exchange seen yet.
    void Reset() { *this = ActivityLampState(); }
    Look Update(bool ok, Clock::time_point now);

  private:
    bool seen_ = false;
    bool ok_ = false;
    bool visible_ = false;
    Clock::time_point changed_{};
};

}  // namespace calvix
