// PWeakTimerTarget: stands between a timer and its real target, which it holds weakly, so a
// timer never keeps the target alive: each firing is passed on while the target exists, and
// the first firing after it is gone invalidates the timer.
//
// Use: Timer::scheduledTimer(interval, true, [t](Timer& timer) { t->timerDidFire(timer); }).
//
// Thread-safety: safe from any thread; the selector runs on the timer's executor.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::legacy {

class PWeakTimerTarget {
  public:
    using Selector = std::function<void(platform::Object& target, platform::Timer& timer)>;

    PWeakTimerTarget(const std::shared_ptr<platform::Object>& target, Selector selector);

    void timerDidFire(platform::Timer& timer);

  private:
    const std::weak_ptr<platform::Object> target_;
    const Selector selector_;
};

}  // namespace pindle::legacy
