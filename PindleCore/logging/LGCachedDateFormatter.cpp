#include "PindleCore/logging/LGCachedDateFormatter.hpp"

#include <algorithm>
#include <cmath>

namespace pindle {

namespace {

constexpr std::string_view millisecondsField = "SSS";

// About the year 5138: far inside the range the formatter keeps dates in.
constexpr double latestShortcutSecond = 1e11;

void appendMilliseconds(int millisecond, std::string& out) {
    const char digits[] = {static_cast<char>('0' + millisecond / 100),
                           static_cast<char>('0' + millisecond / 10 % 10),
                           static_cast<char>('0' + millisecond % 10)};
    out.append(digits, sizeof digits);
}

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
    const double seconds = date.timeIntervalSince1970();
    {
        std::scoped_lock lock(mutex_);
        // Within the cached second and clear of a millisecond's edges (where the formatter's
        // rounding rules decide), the milliseconds follow from the offset into the second.
        if (hasCachedSecond_ && seconds >= cachedSecond_ && seconds < cachedSecond_ + 1) {
            const double offset = (seconds - cachedSecond_) * 1000.0;
            const double millisecond = std::floor(offset);
            const double fraction = offset - millisecond;
            if (fraction > edgeMargin_ && fraction < 1 - edgeMargin_) {
                out += cachedPrefix_;
                appendMilliseconds(static_cast<int>(millisecond), out);
                return;
            }
        }
    }
    // The milliseconds come from a formatter, so that they are floored exactly as the full
    // pattern would floor them; the second they belong to follows from them.
    const std::string milliseconds = millisecondsFormatter_.string(date);
    double millisecond = 0;
    for (char digit : milliseconds) {
        millisecond = millisecond * 10 + (digit - '0');
    }
    const double second = std::round((seconds * 1000.0 - millisecond) / 1000.0);
    {
        std::scoped_lock lock(mutex_);
        if (!hasCachedSecond_ || second != cachedSecond_) {
            cachedPrefix_ = formatter_.string(platform::Date::fromTimeIntervalSince1970(second));
            cachedPrefix_.resize(cachedPrefix_.size() - millisecondsField.size());
            cachedSecond_ = second;
            hasCachedSecond_ = true;
            // Wider than the formatter's allowance for noise (a few units in the last place
            // of the date, at least a nanosecond of a millisecond) and than this offset's own
            // rounding; the offset is exact only for seconds at least 1 (both values then lie
            // within a factor of two of each other). Far-off dates, which the formatter clamps,
            // always take the full rules.
            const double unit =
                std::nextafter(std::fabs(second) + 1, HUGE_VAL) - (std::fabs(second) + 1);
            edgeMargin_ = second >= 1 && second < latestShortcutSecond
                              ? 2 * std::max(unit * 1000.0 * 4, 1e-6) + 1e-9
                              : 1.0;
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
