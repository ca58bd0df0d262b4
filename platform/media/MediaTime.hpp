// MediaTime: a point or span on a media timeline, as a rational number of seconds
// (value / timescale), so that frame-exact times survive without rounding.
//
// Thread-safety: a plain value.
#pragma once

#include <cstdint>

namespace pindle::platform {

struct MediaTime {
    static constexpr std::int32_t defaultTimescale = 1000000;

    std::int64_t value = 0;
    // Zero marks an invalid time (an unknown duration, for instance).
    std::int32_t timescale = 0;

    // value / timescale seconds.
    static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return MediaTime{value, timescale};
    }
    static constexpr MediaTime zero() { return MediaTime{0, 1}; }
    static constexpr MediaTime invalid() { return MediaTime{}; }

    constexpr bool isValid() const { return timescale > 0; }
    // The time in seconds; 0 for an invalid time.
    constexpr double seconds() const {
        return isValid() ? static_cast<double>(value) / static_cast<double>(timescale) : 0.0;
    }
};

}  // namespace pindle::platform
