#include "platform/media/TimeRange.hpp"

#include <algorithm>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {

bool TimeRange::isValid() const {
    return start.isNumeric() && ((duration.isNumeric() && duration >= MediaTime::zero()) ||
                                 duration.isPositiveInfinity());
}

bool TimeRange::contains(MediaTime time) const {
    return isValid() && time.isNumeric() && start <= time && time < end();
}

bool TimeRange::contains(const TimeRange& other) const {
    return isValid() && other.isValid() && start <= other.start && other.end() <= end();
}

TimeRange TimeRange::unionWith(const TimeRange& other) const {
    if (!isValid() || !other.isValid()) {
        return invalid();
    }
    return fromStartToEnd(std::min(start, other.start), std::max(end(), other.end()));
}

TimeRange TimeRange::intersection(const TimeRange& other) const {
    if (!isValid() || !other.isValid()) {
        return invalid();
    }
    const MediaTime from = std::max(start, other.start);
    const MediaTime to = std::min(end(), other.end());
    if (to <= from) {
        return TimeRange{from, MediaTime::zero()};
    }
    return fromStartToEnd(from, to);
}

std::string TimeRange::description() const {
    return "{" + start.description() + ", " + duration.description() + "}";
}

Value toKVOValue(const TimeRange& range) {
    return Value(TimeRangeValue::make(range));
}

Value toKVOValue(const std::vector<TimeRange>& ranges) {
    Array array;
    array.reserve(ranges.size());
    for (const auto& range : ranges) {
        array.push_back(toKVOValue(range));
    }
    return Value(std::move(array));
}

std::vector<TimeRange> timeRangesFromValue(const Value& value) {
    std::vector<TimeRange> ranges;
    const auto take = [&](const Value& item) {
        if (const auto boxed = item.asObjectOf<TimeRangeValue>()) {
            ranges.push_back(boxed->value());
        }
    };
    if (const auto* array = value.asArray()) {
        std::for_each(array->begin(), array->end(), take);
    } else {
        take(value);
    }
    return ranges;
}

}  // namespace pindle::platform
