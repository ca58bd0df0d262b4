// TimeZone: the zone a DateFormatter reads and writes wall-clock times in: UTC, the
// process's local zone (as the C library sees it, TZ included) or a fixed offset from GMT.
//
// Thread-safety: a plain immutable value type; the local zone consults the C library,
// which is safe from any thread.
#pragma once

#include <string>

#include "platform/foundation/Date.hpp"

namespace pindle::platform {

class TimeZone {
  public:
    static TimeZone utc() { return TimeZone(Kind::fixed, 0); }
    static TimeZone local() { return TimeZone(Kind::local, 0); }
    // REQUIRES: |seconds| < 24 hours.
    static TimeZone fixed(int secondsFromGMT) { return TimeZone(Kind::fixed, secondsFromGMT); }

    // The offset from GMT in effect at `date` (daylight saving included for the local zone).
    int secondsFromGMT(Date date) const;

    bool isLocal() const { return kind_ == Kind::local; }
    bool operator==(const TimeZone&) const = default;

  private:
    enum class Kind { fixed, local };
    TimeZone(Kind kind, int seconds) : kind_(kind), seconds_(seconds) {}

    Kind kind_;
    int seconds_;
};

}  // namespace pindle::platform
