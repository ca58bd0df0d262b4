#include "PindleCore/logging/LGCachedDateFormatter.hpp"

#include <cmath>

namespace pindle {

namespace {

constexpr std::string_view millisecondsField = "SSS";

}  // namespace

LGCachedDateFormatter::LGCachedDateFormatter(platform::DateFormatter formatter)
    : formatter_(std::move(formatter)),
      millisecondsFormatter_(millisecondsField, platform::TimeZone::utc()),
      cacheable_(isCacheable(formatter_.pattern())) {}

bool LGCachedDateFormatter::isCacheable(std::string_view pattern) {
    if (!pattern.ends_with(millisecondsField)) {
        return false;
    }
    pattern.remove_suffix(millisecondsField.size());
    // Any other fraction or millisecond-of-day field (outside quotes) changes within a second,
    // and so does a fourth S glued to the final three.
    bool quoted = false;
    for (char c : pattern) {
        if (c == '\'') {
            quoted = !quoted;
        } else if (!quoted && (c == 'S' || c == 'A')) {
            return false;
        }
    }
    return !quoted;
}

void LGCachedDateFormatter::append(platform::Date date, std::string& out) const {
    if (!cacheable_) {
        out += formatter_.string(date);
        return;
    }
    // The milliseconds come from a formatter too, so that they are floored exactly as the
    // full pattern would floor them; the second they belong to follows from them.
    const std::string milliseconds = millisecondsFormatter_.string(date);
    double millisecond = 0;
    for (char digit : milliseconds) {
        millisecond = millisecond * 10 + (digit - '0');
    }
    const double second =
        std::round((date.timeIntervalSince1970() * 1000.0 - millisecond) / 1000.0);
    {
        std::scoped_lock lock(mutex_);
        if (!hasCachedSecond_ || second != cachedSecond_) {
            cachedPrefix_ = formatter_.string(platform::Date::fromTimeIntervalSince1970(second));
            cachedPrefix_.resize(cachedPrefix_.size() - millisecondsField.size());
            cachedSecond_ = second;
            hasCachedSecond_ = true;
        }
        out += cachedPrefix_;
    }
    out += milliseconds;
}

std::string LGCachedDateFormatter::string(platform::Date date) const {
    std::string text;
    append(date, text);
    return text;
}

}  // namespace pindle
