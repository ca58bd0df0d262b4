// TimeRange: a span of a media timeline, a start and a duration.
//
// A valid range has a numeric start and a numeric, non-negative duration, or a duration of
// +infinity (a range that runs to the end). The end is start + duration; a range holds the
// times t with start <= t < end, so an empty range holds nothing. Intersections of disjoint
// ranges are empty; unions span from the earlier start to the later end, gap included.
//
// Thread-safety: a plain value.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Boxed.hpp"
#include "platform/foundation/MediaTime.hpp"

namespace pindle::platform {

class Value;

struct TimeRange {
    MediaTime start;
    MediaTime duration;

    static TimeRange fromStartToEnd(MediaTime start, MediaTime end) {
        return TimeRange{start, end - start};
    }
    static TimeRange invalid() { return TimeRange{}; }
    static TimeRange zero() { return TimeRange{MediaTime::zero(), MediaTime::zero()}; }

    bool isValid() const;
    bool isEmpty() const { return isValid() && duration == MediaTime::zero(); }
    MediaTime end() const { return start + duration; }
    bool contains(MediaTime time) const;
    bool contains(const TimeRange& other) const;
    // Invalid when either range is.
    TimeRange unionWith(const TimeRange& other) const;
    TimeRange intersection(const TimeRange& other) const;

    friend bool operator==(const TimeRange& a, const TimeRange& b) {
        return a.start == b.start && a.duration == b.duration;
    }
    std::string description() const;
};

// The box that carries a range in a Value (loaded ranges ride in a Value array).
using TimeRangeValue = Boxed<TimeRange>;

Value toKVOValue(const TimeRange& range);
// An Array of boxed ranges.
Value toKVOValue(const std::vector<TimeRange>& ranges);
// The ranges a Value carries (one boxed range or an array of them); others are skipped.
std::vector<TimeRange> timeRangesFromValue(const Value& value);

}  // namespace pindle::platform
