#include "platform/ui/BasicAnimation.hpp"

#include <algorithm>

namespace pindle::platform::ui {

double BasicAnimation::ease(TimingFunction timing, double t) {
    t = std::clamp(t, 0.0, 1.0);
    switch (timing) {
        case TimingFunction::linear:
            return t;
        case TimingFunction::easeIn:
            return t * t;
        case TimingFunction::easeOut:
            return t * (2 - t);
        case TimingFunction::easeInEaseOut:
            return t * t * (3 - 2 * t);
    }
    return t;
}

}  // namespace pindle::platform::ui
