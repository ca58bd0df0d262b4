#include "platform/foundation/MediaTime.hpp"

#include <cmath>
#include <limits>
#include <numeric>

#include "platform/foundation/Boxed.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::platform {

namespace {

using Wide = __int128;

constexpr Wide int64Max = std::numeric_limits<std::int64_t>::max();
constexpr Wide int64Min = std::numeric_limits<std::int64_t>::min();

// num / den rounded half away from zero. REQUIRES: den > 0.
Wide roundedQuotient(Wide num, Wide den) {
    const Wide half = den / 2;
    return num >= 0 ? (num + half) / den : -((-num + half) / den);
}

bool fitsInt64(Wide v) {
    return v >= int64Min && v <= int64Max;
}

MediaTime saturated(Wide sign) {
    return sign < 0 ? MediaTime::negativeInfinityTime() : MediaTime::positiveInfinityTime();
}

// Orders the kinds of time before their values are compared.
int rank(const MediaTime& t) {
    if (!t.isValid()) {
        return 0;
    }
    if (t.isNegativeInfinity()) {
        return 1;
    }
    if (t.isPositiveInfinity()) {
        return 3;
    }
    if (t.isIndefinite()) {
        return 4;
    }
    return 2;
}

MediaTime combine(const MediaTime& a, const MediaTime& b, bool subtract) {
    if (!a.isValid() || !b.isValid()) {
        return MediaTime::invalid();
    }
    if (a.isIndefinite() || b.isIndefinite()) {
        return MediaTime::indefiniteTime();
    }
    const bool bPositive = subtract ? b.isNegativeInfinity() : b.isPositiveInfinity();
    const bool bNegative = subtract ? b.isPositiveInfinity() : b.isNegativeInfinity();
    if ((a.isPositiveInfinity() && bNegative) || (a.isNegativeInfinity() && bPositive)) {
        return MediaTime::invalid();
    }
    if (a.isPositiveInfinity() || bPositive) {
        return MediaTime::positiveInfinityTime();
    }
    if (a.isNegativeInfinity() || bNegative) {
        return MediaTime::negativeInfinityTime();
    }
    const Wide common =
        std::lcm(static_cast<std::int64_t>(a.timescale), static_cast<std::int64_t>(b.timescale));
    const Wide left = static_cast<Wide>(a.value) * (common / a.timescale);
    const Wide right = static_cast<Wide>(b.value) * (common / b.timescale);
    const Wide sum = subtract ? left - right : left + right;
    if (common <= std::numeric_limits<std::int32_t>::max() && fitsInt64(sum)) {
        return MediaTime(static_cast<std::int64_t>(sum), static_cast<std::int32_t>(common));
    }
    const std::int32_t finer = std::max(a.timescale, b.timescale);
    const Wide rounded = roundedQuotient(sum * finer, common);
    if (!fitsInt64(rounded)) {
        return saturated(rounded);
    }
    return MediaTime(static_cast<std::int64_t>(rounded), finer);
}

}  // namespace

MediaTime MediaTime::makeWithSeconds(double seconds, std::int32_t timescale) {
    if (std::isnan(seconds) || timescale <= 0) {
        return invalid();
    }
    const double scaled = seconds * static_cast<double>(timescale);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (scaled >= limit) {
        return positiveInfinityTime();
    }
    if (scaled < -limit) {
        return negativeInfinityTime();
    }
    return MediaTime(std::llround(scaled), timescale);
}

double MediaTime::seconds() const {
    if (!isValid() || isIndefinite()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (isPositiveInfinity()) {
        return std::numeric_limits<double>::infinity();
    }
    if (isNegativeInfinity()) {
        return -std::numeric_limits<double>::infinity();
    }
    return static_cast<double>(value) / static_cast<double>(timescale);
}

MediaTime MediaTime::convertScale(std::int32_t newTimescale) const {
    if (newTimescale <= 0) {
        return invalid();
    }
    if (!isNumeric()) {
        return *this;
    }
    const Wide rounded = roundedQuotient(static_cast<Wide>(value) * newTimescale, timescale);
    if (!fitsInt64(rounded)) {
        return saturated(rounded);
    }
    return MediaTime(static_cast<std::int64_t>(rounded), newTimescale);
}

MediaTime operator+(const MediaTime& a, const MediaTime& b) {
    return combine(a, b, false);
}

MediaTime operator-(const MediaTime& a, const MediaTime& b) {
    return combine(a, b, true);
}

MediaTime MediaTime::operator-() const {
    return combine(zero(), *this, true);
}

std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    const int ra = rank(a);
    const int rb = rank(b);
    if (ra != rb || ra != 2) {
        return ra <=> rb;
    }
    const Wide left = static_cast<Wide>(a.value) * b.timescale;
    const Wide right = static_cast<Wide>(b.value) * a.timescale;
    return left == right
               ? std::strong_ordering::equal
               : (left < right ? std::strong_ordering::less : std::strong_ordering::greater);
}

std::string MediaTime::description() const {
    switch (rank(*this)) {
        case 0:
            return "invalid";
        case 1:
            return "-infinity";
        case 3:
            return "+infinity";
        case 4:
            return "indefinite";
        default:
            return std::to_string(value) + "/" + std::to_string(timescale);
    }
}

Value toKVOValue(const MediaTime& time) {
    return Value(Boxed<MediaTime>::make(time));
}

MediaTime mediaTimeFromValue(const Value& value) {
    const auto boxed = value.asObjectOf<Boxed<MediaTime>>();
    return boxed ? boxed->value() : MediaTime::invalid();
}

}  // namespace pindle::platform
