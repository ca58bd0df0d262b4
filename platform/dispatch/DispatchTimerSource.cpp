#include "platform/dispatch/DispatchTimerSource.hpp"

#include <cstdio>
#include <cstdlib>
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

std::shared_ptr<DispatchTimerSource> DispatchTimerSource::create(std::shared_ptr<Executor> target) {
    return std::make_shared<DispatchTimerSource>(Private(), std::move(target));
}

DispatchTimerSource::DispatchTimerSource(Private, std::shared_ptr<Executor> target)
    : target_(std::move(target)) {}

void DispatchTimerSource::setEventHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    eventHandler_ = std::move(handler);
}

void DispatchTimerSource::setCancelHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    cancelHandler_ = std::move(handler);
}

void DispatchTimerSource::schedule(DispatchTime deadline, Clock::Duration interval,
                                   Clock::Duration) {
    std::function<void()> arm;
    {
        std::lock_guard lock(mutex_);
        deadline_ = deadline;
        interval_ = interval;
        arm = armLocked();
    }
    if (arm) {
        arm();
    }
}

void DispatchTimerSource::schedule(DispatchTime deadline, TimeInterval interval) {
    schedule(deadline,
             std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(interval)));
}

void DispatchTimerSource::resume() {
    std::function<void()> arm;
    {
        std::lock_guard lock(mutex_);
        if (suspendCount_ == 0) {
            std::fprintf(stderr, "DispatchTimerSource::resume: the timer is not suspended\n");
            std::abort();
        }
        --suspendCount_;
        arm = armLocked();
    }
    if (arm) {
        arm();
    }
}

void DispatchTimerSource::suspend() {
    std::lock_guard lock(mutex_);
    ++suspendCount_;
    ++generation_;
}

void DispatchTimerSource::cancel() {
    std::function<void()> cancelHandler;
    std::function<void()> eventHandler;  // released after the lock
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) {
            return;
        }
        cancelled_ = true;
        ++generation_;
        cancelHandler = std::move(cancelHandler_);
        eventHandler = std::move(eventHandler_);
    }
    if (cancelHandler) {
        target_->async(std::move(cancelHandler));
    }
}

bool DispatchTimerSource::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

// Returns what arms the timer for deadline_, to be called once mutex_ is released; nothing
// when the timer is not to run.
std::function<void()> DispatchTimerSource::armLocked() {
    ++generation_;
    if (cancelled_ || suspendCount_ > 0 || !deadline_ || deadline_->isDistantFuture()) {
        return nullptr;
    }
    const auto generation = generation_;
    const auto deadline = deadline_->uptime();
    auto fire = weakly(this, [generation](DispatchTimerSource& self) { self.fire(generation); });
    return [fire, deadline]() mutable {
        auto clock = Clock::current();
        if (deadline <= clock->uptime())
            return fire();
        clock->scheduleDelivery(deadline, fire);
    };
}

void DispatchTimerSource::fire(std::uint64_t generation) {
    std::function<void()> handler;
    std::function<void()> arm;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_ || cancelled_ || suspendCount_ > 0 || !deadline_) {
            return;
        }
        handler = eventHandler_;
        if (interval_ > Clock::Duration::zero()) {
            // Late on the system clock, skip the periods already gone rather than burst.
            const auto now = Clock::current()->uptime();
            auto next = deadline_->uptime() + interval_;
            if (next <= now) {
                next += ((now - next) / interval_ + 1) * interval_;
            }
            deadline_ = DispatchTime(next);
            arm = armLocked();
        } else {
            deadline_.reset();
        }
    }
    if (handler) {
        target_->async(std::move(handler));
    }
    if (arm) {
        arm();
    }
}

}  // namespace pindle::platform
