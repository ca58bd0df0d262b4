// Clock: the one source of time of the SDK, and the seam that lets tests run on virtual time.
//
// Every delay, timer, time-out and "now" in the SDK reads Clock::current(). By default that
// is the system clock. A test installs a VirtualClock; then time stands still until the test
// calls advance(), which fires every delayed work item and timer that has come due
// (enqueueing it on its target queue) before it returns.
//
// Two readings: `now()` is the wall-clock date (it may jump); `uptime()` is monotonic
// (never goes back), for measuring intervals.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/foundation/Date.hpp"

namespace pindle::platform {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock() = default;
    virtual Date now() const = 0;
    virtual Duration uptime() const = 0;
    virtual bool isVirtual() const { return false; }

    // The process clock.
    static std::shared_ptr<Clock> current();
    // Installs `clock` as the process clock (nullptr restores the system clock).
    static void setCurrent(std::shared_ptr<Clock> clock);
};

class SystemClock final : public Clock {
public:
    Date now() const override;
    Duration uptime() const override;
};

// A clock that moves only when told. Delayed work scheduled against it fires during
// advance(), in deadline order.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(Date start = Date::fromTimeIntervalSince1970(1'700'000'000.0));

    Date now() const override;
    Duration uptime() const override;
    bool isVirtual() const override { return true; }

    // Moves time forward by `by` and hands every work item due by then to its queue, each at
    // its own deadline in order (so an item that schedules another due within the window also
    // fires). REQUIRES: by >= 0.
    void advance(Duration by);
    void advance(double seconds) {
        advance(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)));
    }
    // Sets the wall-clock date without moving uptime (a wall-clock jump).
    void setNow(Date date);

private:
    mutable std::mutex mutex_;
    Date wall_;        // guarded by mutex_
    Duration uptime_;  // guarded by mutex_
};

}  // namespace pindle::platform
