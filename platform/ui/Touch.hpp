// Touch: one finger's event as the window delivers it: its phase, where it is in window
// coordinates, how many quick taps it ends, and when (Clock uptime, in seconds). The
// interface here tracks one finger at a time, which is all the player's controls and
// gestures need.
//
// Thread-safety: a plain value.
#pragma once

#include "platform/foundation/Point.hpp"

namespace pindle::platform::ui {

enum class TouchPhase { began, moved, ended, cancelled };

struct Touch {
    TouchPhase phase = TouchPhase::began;
    Point locationInWindow;
    int tapCount = 1;
    double timestamp = 0;
};

}  // namespace pindle::platform::ui
