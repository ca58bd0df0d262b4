// MediaTime: a point or span on a media timeline, as a rational number of seconds
// (value / timescale), so that frame-exact times survive without rounding.
//
// Besides numeric times there are four special ones: invalid (nothing known, the default),
// indefinite (a duration not known yet), and +/- infinity (a range that runs to the end).
// Arithmetic and comparison never overflow: sums are formed in 128 bits on a common
// timescale and brought back exactly when they fit, else rounded to the finer of the two
// timescales, else saturated to an infinity. Comparison is exact across timescales and
// orders invalid < -infinity < numeric < +infinity < indefinite, so times sort totally.
//
// Thread-safety: a plain value.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>

namespace pindle::platform {

class Value;

struct MediaTime {
    static constexpr std::int32_t defaultTimescale = 1000000;

    enum Flags : std::uint32_t {
        valid = 1,
        positiveInfinity = 4,
        negativeInfinity = 8,
        indefinite = 16,
    };

    std::int64_t value = 0;
    // Zero for the invalid time.
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;

    // The invalid time.
    constexpr MediaTime() = default;
    // value / timescale seconds; a timescale <= 0 gives the invalid time.
    constexpr MediaTime(std::int64_t value, std::int32_t timescale)
        : value(value),
          timescale(timescale),
          flags(timescale > 0 ? static_cast<std::uint32_t>(valid) : 0u) {}

    static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return MediaTime(value, timescale);
    }
    // The nearest time at `timescale`; NaN gives invalid, +/-inf and seconds beyond the
    // range of the timescale give the infinities.
    static MediaTime makeWithSeconds(double seconds, std::int32_t timescale = defaultTimescale);
    static constexpr MediaTime zero() { return MediaTime(0, 1); }
    static constexpr MediaTime invalid() { return MediaTime(); }
    static constexpr MediaTime indefiniteTime() { return special(valid | indefinite); }
    static constexpr MediaTime positiveInfinityTime() { return special(valid | positiveInfinity); }
    static constexpr MediaTime negativeInfinityTime() { return special(valid | negativeInfinity); }

    constexpr bool isValid() const { return (flags & valid) != 0 && timescale > 0; }
    constexpr bool isIndefinite() const { return isValid() && (flags & indefinite) != 0; }
    constexpr bool isPositiveInfinity() const {
        return isValid() && (flags & positiveInfinity) != 0;
    }
    constexpr bool isNegativeInfinity() const {
        return isValid() && (flags & negativeInfinity) != 0;
    }
    // Valid and neither indefinite nor infinite.
    constexpr bool isNumeric() const {
        return isValid() && (flags & (indefinite | positiveInfinity | negativeInfinity)) == 0;
    }

    // The time in seconds: NaN for invalid and indefinite times, +/-inf for the infinities.
    double seconds() const;
    // The nearest time at another timescale (special times are kept as they are).
    MediaTime convertScale(std::int32_t newTimescale) const;

    // Sums and differences: invalid with any invalid operand, else indefinite with any
    // indefinite one; +inf + -inf is invalid, an infinity otherwise dominates.
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);
    MediaTime operator-() const;
    MediaTime& operator+=(const MediaTime& other) { return *this = *this + other; }
    MediaTime& operator-=(const MediaTime& other) { return *this = *this - other; }

    // Equal when they stand for the same time: 1/2 == 500/1000; all invalid times are equal.
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b);
    friend bool operator==(const MediaTime& a, const MediaTime& b) {
        return (a <=> b) == std::strong_ordering::equal;
    }

    std::string description() const;

  private:
    static constexpr MediaTime special(std::uint32_t specialFlags) {
        MediaTime time(0, 1);
        time.flags = specialFlags;
        return time;
    }
};

// A MediaTime carried in a Value (key-value observing, notification payloads).
Value toKVOValue(const MediaTime& time);
// The MediaTime a Value carries; invalid when it carries none.
MediaTime mediaTimeFromValue(const Value& value);

}  // namespace pindle::platform
