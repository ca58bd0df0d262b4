#include "platform/dispatch/Clock.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/dispatch/MainThread.hpp"
#include "platform/dispatch/private/DeadlineThread.hpp"
#include "platform/dispatch/private/DeliveryTracker.hpp"

namespace pindle::platform {

namespace {

// The system clock, never destroyed: worker threads read the clock during static destruction.
SystemClock& systemClock() {
    static SystemClock* const instance = new SystemClock();
    return *instance;
}

// A handle on the system clock without a control block: copying it touches no shared count,
// so readers on many threads do not fight over one cache line.
std::shared_ptr<Clock> systemClockHandle() {
    return std::shared_ptr<Clock>(std::shared_ptr<Clock>(), &systemClock());
}

struct CurrentClock {
    // Set while a clock other than the system clock is installed. Readers check it without
    // the lock, so the common case (no clock installed) costs one load.
    std::atomic<bool> installed{false};
    std::mutex mutex;
    std::shared_ptr<Clock> clock;  // guarded by mutex; null means the system clock
};

CurrentClock& currentClock() {
    // Never destroyed, for the same reason as the system clock.
    static CurrentClock* const instance = new CurrentClock();
    return *instance;
}

double toSeconds(Clock::Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::shared_ptr<Clock> Clock::current() {
    auto& current = currentClock();
    if (current.installed.load(std::memory_order_acquire)) {
        std::lock_guard lock(current.mutex);
        if (current.clock) {
            return current.clock;
        }
    }
    return systemClockHandle();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    // The system clock is kept apart from installed clocks, whether it comes back as nullptr
    // or as a handle a caller saved from current(). All system clocks read the same time and
    // share one deadline thread, so any of them stands for it.
    if (dynamic_cast<SystemClock*>(clock.get()) != nullptr) {
        clock = nullptr;
    }
    auto& current = currentClock();
    {
        std::lock_guard lock(current.mutex);
        std::swap(current.clock, clock);
        current.installed.store(current.clock != nullptr, std::memory_order_release);
    }
    // The previous clock (and anything its pending deliveries hold) is released after the
    // lock: a VirtualClock's destructor drops its queue of closures.
}

// A date's "now" is the process clock's: Date sits below the dispatch folder, so its reading
// of the clock is defined here, with the clock.
Date Date::now() {
    return Clock::current()->now();
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
