#include "platform/dispatch/Timer.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

TimerPtr Timer::scheduledTimer(TimeInterval interval, bool repeats, Block block,
                               std::shared_ptr<Executor> executor) {
    auto timer = std::make_shared<Timer>(Private{}, interval, repeats, std::move(block));
    auto source =
        DispatchTimerSource::create(executor ? std::move(executor) : DispatchQueue::main());
    source->setEventHandler(weakly(timer, [](Timer& self) { self.fire(); }));
    source->schedule(DispatchTime::after(interval), repeats ? interval : 0.0);
    {
        std::lock_guard lock(timer->mutex_);
        timer->source_ = source;
        timer->selfWhileValid_ = timer;
    }
    source->resume();
    return timer;
}

Timer::Timer(Private, TimeInterval interval, bool repeats, Block block)
    : interval_(interval), repeats_(repeats), block_(std::move(block)) {}

bool Timer::isValid() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(block_);
}

void Timer::invalidate() {
    Block block;
    DispatchTimerSourcePtr source;
    std::shared_ptr<Timer> self;
    {
        std::lock_guard lock(mutex_);
        block = std::move(block_);
        block_ = nullptr;
        source = std::move(source_);
        self = std::move(selfWhileValid_);
    }
    if (source)
        source->cancel();
    // `block` and `self` are released here, outside the lock.
}

void Timer::fire() {
    Block block;
    {
        std::lock_guard lock(mutex_);
        block = block_;
    }
    if (!block)
        return;
    // Held for the call: the block may invalidate, which drops the timer's own hold.
    const auto keep = std::static_pointer_cast<Timer>(shared_from_this());
    block(*this);
    if (!repeats_)
        invalidate();
}

}  // namespace pindle::platform
