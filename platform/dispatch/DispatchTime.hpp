// DispatchTime: a deadline for delayed work, timers and timed waits.
//
// A point on the current clock's uptime (monotonic) scale, so virtual time moves deadlines
// as it moves "now". distantFuture() never comes; waits until it never time out.
//
// Thread-safety: a plain value type. now() reads Clock::current().
#pragma once

#include <chrono>
#include <compare>

#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Date.hpp"

namespace pindle::platform {

class DispatchTime {
  public:
    using Duration = Clock::Duration;

    constexpr DispatchTime() = default;
    constexpr explicit DispatchTime(Duration uptime) : uptime_(uptime) {}

    static DispatchTime now() { return DispatchTime(Clock::current()->uptime()); }
    // now() + `seconds`.
    static DispatchTime after(TimeInterval seconds) { return now() + seconds; }
    static constexpr DispatchTime distantFuture() { return DispatchTime(Duration::max()); }

    constexpr Duration uptime() const { return uptime_; }
    constexpr bool isDistantFuture() const { return uptime_ == Duration::max(); }

    // Saturates at distantFuture(); a negative offset moves the deadline earlier.
    DispatchTime operator+(Duration offset) const {
        if (isDistantFuture() ||
            (offset > Duration::zero() && uptime_ > Duration::max() - offset)) {
            return distantFuture();
        }
        return DispatchTime(uptime_ + offset);
    }
    DispatchTime operator+(TimeInterval seconds) const {
        constexpr double kLargest = 100.0 * 365 * 24 * 3600;  // a century: nobody waits longer
        if (seconds >= kLargest) {
            return distantFuture();
        }
        return *this + std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
    }

    constexpr auto operator<=>(const DispatchTime&) const = default;

  private:
    Duration uptime_{};
};

}  // namespace pindle::platform
