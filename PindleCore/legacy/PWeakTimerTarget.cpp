#include "PindleCore/legacy/PWeakTimerTarget.hpp"

namespace pindle::legacy {

PWeakTimerTarget::PWeakTimerTarget(const std::shared_ptr<platform::Object>& target,
                                   Selector selector)
    : target_(target), selector_(std::move(selector)) {}

void PWeakTimerTarget::timerDidFire(platform::Timer& timer) {
    if (const auto target = target_.lock()) {
        if (selector_)
            selector_(*target, timer);
        return;
    }
    timer.invalidate();
}

}  // namespace pindle::legacy
