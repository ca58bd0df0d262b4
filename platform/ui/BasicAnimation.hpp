// BasicAnimation: a change of one layer property from one value to another over a duration
// on Clock. A layer runs it (Layer::add); the model value of the property does not change,
// only the presentation value read while the animation runs.
//
// Thread-safety: a plain value. `didStop` runs on the main queue.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle::platform::ui {

enum class TimingFunction { linear, easeIn, easeOut, easeInEaseOut };

struct BasicAnimation {
    std::string keyPath;
    Value fromValue;
    Value toValue;
    double duration = 0.25;
    TimingFunction timing = TimingFunction::linear;
    // Called once on the main queue: with true when the animation ran its duration, with
    // false when it was removed or replaced before that.
    std::function<void(bool finished)> didStop;
    // Seconds after add() before it starts; until then it shows fromValue.
    double delay = 0;

    // The eased fraction of progress `t` in [0, 1].
    static double ease(TimingFunction timing, double t);
};

}  // namespace pindle::platform::ui
