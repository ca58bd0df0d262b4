// Date: a point in time, as seconds (with a fractional part) since 1970-01-01 UTC.
//
// TimeInterval is a duration in seconds, as the platform counts them. Date::now() reads
// the process clock (platform/dispatch/Clock.hpp, which defines it, the clock standing above
// the values it reads), so tests that install a virtual clock see virtual dates too.
//
// Thread-safety: a plain value type.
#pragma once

#include <compare>

namespace pindle::platform {

using TimeInterval = double;

class Date {
  public:
    constexpr Date() = default;
    static constexpr Date fromTimeIntervalSince1970(TimeInterval seconds) { return Date(seconds); }
    static Date now();

    constexpr TimeInterval timeIntervalSince1970() const { return seconds_; }
    constexpr TimeInterval timeIntervalSince(Date other) const { return seconds_ - other.seconds_; }
    constexpr Date addingTimeInterval(TimeInterval seconds) const {
        return Date(seconds_ + seconds);
    }
    // Seconds elapsed from this date to now (negative for dates in the future).
    TimeInterval timeIntervalSinceNow() const;

    constexpr auto operator<=>(const Date&) const = default;

  private:
    constexpr explicit Date(TimeInterval seconds) : seconds_(seconds) {}
    TimeInterval seconds_ = 0;
};

}  // namespace pindle::platform
