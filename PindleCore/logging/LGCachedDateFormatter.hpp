// LGCachedDateFormatter: a date formatter for log lines, which come many to the second: when
// the pattern ends in milliseconds ("SSS") and nothing else in it changes within a second,
// the text up to the milliseconds is made once per second and reused. Other patterns are
// formatted in full each time. The text is always what the wrapped formatter would write.
//
// Thread-safety: safe from any thread (the cached second is guarded by a lock, so one
// formatter may serve loggers on different queues). Nothing calls back.
#pragma once

#include <mutex>
#include <string>

#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

class LGCachedDateFormatter {
  public:
    explicit LGCachedDateFormatter(platform::DateFormatter formatter);
    LGCachedDateFormatter(const LGCachedDateFormatter&) = delete;
    LGCachedDateFormatter& operator=(const LGCachedDateFormatter&) = delete;

    // Appends the text for `date` to `out`.
    void append(platform::Date date, std::string& out) const;
    std::string string(platform::Date date) const;

    // Whether the pattern lets the text before its final milliseconds be reused within a
    // second.
    static bool isCacheable(std::string_view pattern);

  private:
    const platform::DateFormatter formatter_;
    const platform::DateFormatter millisecondsFormatter_;
    const bool cacheable_;

    mutable std::mutex mutex_;
    mutable bool hasCachedSecond_ = false;  // guarded by mutex_
    mutable double cachedSecond_ = 0;       // guarded by mutex_
    mutable std::string cachedPrefix_;      // guarded by mutex_
    // How close to a millisecond's edge (in milliseconds) the offset into the cached second
    // may come before the full rules decide; 1 turns the shortcut off.
    mutable double edgeMargin_ = 1;  // guarded by mutex_
};

}  // namespace pindle
