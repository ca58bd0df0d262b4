// Clock: the one source of time of the SDK, and the seam that lets tests run on virtual time.
//
// Every delay, timer, time-out and "now" in the SDK reads Clock::current(). By default that
// is the system clock. A test installs a VirtualClock; then time stands still until the test
// calls advance(), which fires every delayed work item and timer that has come due
// (enqueueing it on its target queue) before it returns.
//
// Two readings: `now()` is the wall-clock date (it may jump); `uptime()` is monotonic
// (never goes back), for measuring intervals. Deadlines of delayed work, timers and timed
// waits are uptime values (see DispatchTime).
//
// Thread-safety: all operations are safe from any thread. Deliveries scheduled with
// scheduleDelivery() run on the system clock's deadline thread, or inside advance() on the
// thread that calls it for a virtual clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <vector>

#include "platform/foundation/Date.hpp"

namespace pindle::platform {

namespace detail {
class DeliveryTracker;
}

class Clock {
  public:
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock() = default;
    virtual Date now() const = 0;
    virtual Duration uptime() const = 0;
    virtual bool isVirtual() const { return false; }

    // Calls `deliver` once uptime() reaches `deadline`; one already passed is delivered
    // when the clock next runs its deliveries (the system clock's thread at once, a virtual
    // clock at its next advance(), advance(0) included). Deliveries with the same deadline
    // run in the order they were scheduled; `deliver` never runs on the calling thread
    // before this returns. This is the primitive under delayed
    // work, timers and timed waits; `deliver` only hands work to a queue or wakes a waiter.
    // REQUIRES: `deliver` is quick and never blocks.
    virtual void scheduleDelivery(Duration deadline, std::function<void()> deliver) = 0;

    // The process clock. Cheap while no clock is installed (one atomic load, no lock and no
    // shared count touched), so hot paths may call it per message.
    static std::shared_ptr<Clock> current();
    // Installs `clock` as the process clock (nullptr restores the system clock). Deliveries
    // already scheduled stay with the clock they were scheduled on.
    static void setCurrent(std::shared_ptr<Clock> clock);
};

class SystemClock final : public Clock {
  public:
    Date now() const override;
    Duration uptime() const override;
    // Deliveries run on one process-wide deadline thread, shared by all system clocks.
    void scheduleDelivery(Duration deadline, std::function<void()> deliver) override;
};

// A clock that moves only when told. Delayed work scheduled against it fires during
// advance(), in deadline order.
class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(Date start = Date::fromTimeIntervalSince1970(1'700'000'000.0));
    ~VirtualClock() override;

    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    Date now() const override;
    Duration uptime() const override;
    bool isVirtual() const override { return true; }
    void scheduleDelivery(Duration deadline, std::function<void()> deliver) override;

    // Moves time forward by `by`. Each delivery due within the window runs at its own
    // deadline, in order; after each one, advance() waits until the work it handed to a
    // queue has run (and whatever that work queued in turn), or is parked in a semaphore or
    // group wait. So a delayed block that schedules another one due within the window also
    // fires, and when advance() returns every due block has run. On the main thread it
    // pumps the main queue while it waits.
    // REQUIRES: by >= 0. Work due in the window never waits for something the caller does
    // only after advance() returns (a waited-for block that never ends is reported on
    // standard error after kSettleGuard and then left behind).
    void advance(Duration by);
    void advance(double seconds) {
        advance(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)));
    }
    // Sets the wall-clock date without moving uptime (a wall-clock jump).
    void setNow(Date date);

    // How long advance() waits for delivered work before giving up on it.
    static constexpr std::chrono::seconds kSettleGuard{20};

  private:
    struct Entry {
        Duration deadline;
        std::uint64_t sequence;
        std::function<void()> deliver;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
        }
    };

    void waitUntilSettled();

    std::mutex advanceMutex_;  // serialises advance() calls

    mutable std::mutex mutex_;
    Date wall_;                                                  // guarded by mutex_
    Duration uptime_;                                            // guarded by mutex_
    std::priority_queue<Entry, std::vector<Entry>, Later> due_;  // guarded by mutex_
    std::uint64_t nextSequence_ = 0;                             // guarded by mutex_

    std::shared_ptr<detail::DeliveryTracker> tracker_;
};

}  // namespace pindle::platform
