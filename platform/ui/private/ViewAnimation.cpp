#include "platform/ui/private/ViewAnimation.hpp"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/ui/Layer.hpp"

namespace pindle::platform::ui {
namespace {

thread_local std::shared_ptr<ViewAnimation> openTransaction;

// A time that is not a finite number of seconds (NaN, infinity) or below zero means none: an
// infinite animation would never complete and hold whoever waits on it for good.
double usableTime(double seconds) {
    return std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
}

}  // namespace

ViewAnimation::ViewAnimation(double duration, double delay, TimingFunction timing,
                             std::function<void(bool finished)> completion)
    : duration_(usableTime(duration)),
      delay_(usableTime(delay)),
      timing_(timing),
      completion_(std::move(completion)) {}

std::shared_ptr<ViewAnimation> ViewAnimation::current() {
    return openTransaction;
}

void ViewAnimation::run(const std::function<void()>& animations) {
    auto outer = std::exchange(openTransaction, shared_from_this());
    if (animations)
        animations();
    openTransaction = std::move(outer);

    bool nothingRecorded = false;
    {
        std::lock_guard lock(mutex_);
        scheduled_ = true;
        nothingRecorded = running_ == 0;
    }
    if (nothingRecorded) {
        // Nothing animates, but the completion still keeps to the requested time.
        auto self = shared_from_this();
        DispatchQueue::main()->asyncAfter(delay_ + duration_, [self] { self->stopped(true); });
    }
}

void ViewAnimation::record(Layer& layer, const std::string& key, Value from) {
    {
        std::lock_guard lock(mutex_);
        if (!keys_.emplace(&layer, key).second)
            return;
        ++running_;
    }
    BasicAnimation animation;
    animation.keyPath = key;
    animation.fromValue = std::move(from);
    animation.duration = duration_;
    animation.delay = delay_;
    animation.timing = timing_;
    animation.didStop = [self = shared_from_this()](bool finished) {
        self->stopped(finished);
    };
    layer.add(std::move(animation), key);
}

void ViewAnimation::stopped(bool finished) {
    std::function<void(bool)> completion;
    {
        std::lock_guard lock(mutex_);
        if (running_ > 0)
            --running_;
        // All finished, or the first one cut short: the completion runs once.
        if (completion_ && (!finished || (scheduled_ && running_ == 0))) {
            completion = std::move(completion_);
            completion_ = nullptr;
        }
    }
    if (completion)
        completion(finished);
}

}  // namespace pindle::platform::ui
