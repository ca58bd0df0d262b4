// WaitList: the threads blocked in a semaphore or group wait, released in arrival order.
//
// Internal to the dispatch library. The owner (a semaphore, a group) keeps its count under
// the list's mutex and asks the list to park the caller or to release waiters. A waiter
// with a deadline on a virtual clock is woken by a delivery scheduled on that clock, so it
// passes only when VirtualClock::advance() passes it; on the system clock the waiter times
// out by itself. A waiter that was running
// work delivered by advance() stops counting as busy while it waits (see DeliveryTracker).
//
// Thread-safety: every operation REQUIRES the caller to hold mutex(), as the signature's
// lock argument shows; the list is shared (std::shared_ptr) because a scheduled deadline
// delivery may outlive the owner.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchTime.hpp"

namespace pindle::platform::detail {

class DeliveryTracker;

class WaitList : public std::enable_shared_from_this<WaitList> {
  public:
    WaitList() = default;
    WaitList(const WaitList&) = delete;
    WaitList& operator=(const WaitList&) = delete;

    std::mutex& mutex() { return mutex_; }

    // Parks the calling thread until released or until `deadline` passes on the current
    // clock. Returns true when released, false on time-out.
    bool wait(std::unique_lock<std::mutex>& lock, DispatchTime deadline);
    // Releases the longest-waiting thread; false when none waits.
    bool releaseOne(std::unique_lock<std::mutex>& lock);
    void releaseAll(std::unique_lock<std::mutex>& lock);

  private:
    struct Waiter {
        bool released = false;  // guarded by the list's mutex_
        bool timedOut = false;  // guarded by the list's mutex_
        std::shared_ptr<DeliveryTracker> parkedOn;
    };

    void timeOut(const std::shared_ptr<Waiter>& waiter);
    static void wake(Waiter& waiter);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Waiter>> waiters_;  // guarded by mutex_
};

}  // namespace pindle::platform::detail
