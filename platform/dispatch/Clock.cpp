#include "platform/dispatch/Clock.hpp"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/dispatch/DeadlineThread.hpp"
#include "platform/dispatch/DeliveryTracker.hpp"
#include "platform/dispatch/MainThread.hpp"

namespace pindle::platform {

namespace {

struct CurrentClock {
    std::mutex mutex;
    std::shared_ptr<Clock> clock;  // guarded by mutex
};

CurrentClock& currentClock() {
    // Never destroyed: worker threads read the clock during static destruction.
    static CurrentClock* const instance = new CurrentClock{{}, std::make_shared<SystemClock>()};
    return *instance;
}

double toSeconds(Clock::Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::shared_ptr<Clock> Clock::current() {
    auto& current = currentClock();
    std::lock_guard lock(current.mutex);
    return current.clock;
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    if (!clock) {
        clock = std::make_shared<SystemClock>();
    }
    auto& current = currentClock();
    std::lock_guard lock(current.mutex);
    std::swap(current.clock, clock);
    // The previous clock (and anything its pending deliveries hold) is released after the
    // lock: a VirtualClock's destructor drops its queue of closures.
}

Date SystemClock::now() const {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return Date::fromTimeIntervalSince1970(std::chrono::duration<double>(sinceEpoch).count());
}

Clock::Duration SystemClock::uptime() const {
    return std::chrono::duration_cast<Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::scheduleDelivery(Duration deadline, std::function<void()> deliver) {
    detail::DeadlineThread::shared().schedule(deadline, std::move(deliver));
}

VirtualClock::VirtualClock(Date start)
    : wall_(start),
      uptime_(std::chrono::hours(1)),
      tracker_(std::make_shared<detail::DeliveryTracker>()) {}

VirtualClock::~VirtualClock() = default;

Date VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return wall_;
}

Clock::Duration VirtualClock::uptime() const {
    std::lock_guard lock(mutex_);
    return uptime_;
}

void VirtualClock::scheduleDelivery(Duration deadline, std::function<void()> deliver) {
    std::lock_guard lock(mutex_);
    due_.push(Entry{deadline, nextSequence_++, std::move(deliver)});
}

void VirtualClock::setNow(Date date) {
    std::lock_guard lock(mutex_);
    wall_ = date;
}

void VirtualClock::advance(Duration by) {
    if (by < Duration::zero()) {
        std::fprintf(stderr, "VirtualClock::advance: cannot move time backwards\n");
        std::abort();
    }
    std::lock_guard serial(advanceMutex_);
    Duration end;
    {
        std::lock_guard lock(mutex_);
        end = uptime_ + by;
    }
    for (;;) {
        std::function<void()> deliver;
        {
            std::lock_guard lock(mutex_);
            if (due_.empty() || due_.top().deadline > end) {
                wall_ = wall_.addingTimeInterval(toSeconds(end - uptime_));
                uptime_ = end;
                break;
            }
            const auto deadline = due_.top().deadline;
            if (deadline > uptime_) {
                wall_ = wall_.addingTimeInterval(toSeconds(deadline - uptime_));
                uptime_ = deadline;
            }
            deliver = std::move(const_cast<Entry&>(due_.top()).deliver);
            due_.pop();
        }
        {
            detail::DeliveryTracker::Scope scope(tracker_);
            deliver();
            deliver = nullptr;
        }
        waitUntilSettled();
    }
}

void VirtualClock::waitUntilSettled() {
    bool settled;
    if (MainThread::isMainThread()) {
        settled = MainThread::runUntil([this] { return tracker_->isSettled(); },
                                       std::chrono::duration<double>(kSettleGuard).count());
    } else {
        settled = tracker_->waitUntilSettled(kSettleGuard);
    }
    if (!settled) {
        std::fprintf(stderr,
                     "VirtualClock::advance: delivered work still running after %lld s; "
                     "moving on without it\n",
                     static_cast<long long>(kSettleGuard.count()));
    }
}

}  // namespace pindle::platform
