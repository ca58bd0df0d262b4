#include "platform/dispatch/private/WaitList.hpp"

#include <algorithm>
#include <chrono>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/private/DeliveryTracker.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform::detail {

bool WaitList::wait(std::unique_lock<std::mutex>& lock, DispatchTime deadline) {
    auto clock = Clock::current();
    if (!deadline.isDistantFuture() && deadline.uptime() <= clock->uptime()) {
        return false;
    }
    auto waiter = std::make_shared<Waiter>();
    waiters_.push_back(waiter);
    if (!deadline.isDistantFuture() && std::dynamic_pointer_cast<SystemClock>(clock)) {
        // On the system clock the waiting thread keeps its own deadline: a wake-up of the
        // deadline thread, then another of this one, would add two hand-offs to every pause.
        const std::chrono::steady_clock::time_point until(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline.uptime()));
        if (!changed_.wait_until(lock, until, [&] { return waiter->released; })) {
            waiters_.erase(std::find(waiters_.begin(), waiters_.end(), waiter));
            waiter->timedOut = true;
        }
        return waiter->released;
    }
    if (!deadline.isDistantFuture()) {
        clock->scheduleDelivery(
            deadline.uptime(),
            weakly(this, [parked = std::weak_ptr<Waiter>(waiter)](WaitList& self) {
                // by hand: the waiter itself is handed on, to be found among those parked
                if (auto stillParked = parked.lock())
                    self.timeOut(stillParked);
            }));
    }
    // Parked only once its deadline is on the clock: a virtual clock that sees this thread
    // settled must already see the deadline that will wake it. (The lock held here keeps the
    // deadline's time-out from running before the park.)
    waiter->parkedOn = DeliveryTracker::current();
    if (waiter->parkedOn) {
        waiter->parkedOn->park();
    }
    changed_.wait(lock, [&] { return waiter->released || waiter->timedOut; });
    return waiter->released;
}

bool WaitList::releaseOne(std::unique_lock<std::mutex>&) {
    if (waiters_.empty()) {
        return false;
    }
    wake(*waiters_.front());
    waiters_.front()->released = true;
    waiters_.pop_front();
    changed_.notify_all();
    return true;
}

void WaitList::releaseAll(std::unique_lock<std::mutex>&) {
    for (auto& waiter : waiters_) {
        wake(*waiter);
        waiter->released = true;
    }
    waiters_.clear();
    changed_.notify_all();
}

void WaitList::timeOut(const std::shared_ptr<Waiter>& waiter) {
    std::lock_guard lock(mutex_);
    auto found = std::find(waiters_.begin(), waiters_.end(), waiter);
    if (found == waiters_.end()) {
        return;  // released before its deadline
    }
    waiters_.erase(found);
    wake(*waiter);
    waiter->timedOut = true;
    changed_.notify_all();
}

void WaitList::wake(Waiter& waiter) {
    // Counted busy again before it can run, so advance() never sees it idle in between.
    if (waiter.parkedOn) {
        waiter.parkedOn->unpark();
    }
}

}  // namespace pindle::platform::detail
