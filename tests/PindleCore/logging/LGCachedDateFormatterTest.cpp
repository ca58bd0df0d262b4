#include "PindleCore/logging/LGCachedDateFormatter.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace pindle {
namespace {

using platform::Date;
using platform::DateFormatter;
using platform::TimeZone;

// One formatter walks dates forwards and backwards across second boundaries, so a stale
// second or a millisecond floored differently from the full pattern shows.
TEST(LGCachedDateFormatterTest, WritesWhatTheWrappedFormatterWrites) {
    const double base = 1'700'000'000.0;
    const double dates[] = {
        base,
        base + 0.0429,
        base + 0.059,
        base + 0.999,
        base + 0.9995,
        base + 1.0,
        base + 1.001,
        base + 0.5,
        base + 59.999,
        base + 60.0,
        base + 3599.99,
        base + 3600.0,
        0.0,
        -0.5,
        -1.0001,
        base + 0.1 + 0.2,
        base + 86399.999,
        base + 86400.0,
    };
    struct Case {
        const char* pattern;
        TimeZone zone;
    };
    const Case cases[] = {
        {"yyyy/MM/dd HH:mm:ss:SSS", TimeZone::local()},
        {"yyyy-MM-dd HH:mm:ss:SSS", TimeZone::fixed(5 * 3600 + 30 * 60)},
        {"HH:mm:ss.SSSS", TimeZone::utc()},  // finer than milliseconds: never cached
        {"A 'at' ss SSS", TimeZone::utc()},  // milliseconds in the day: never cached
        {"'S' ss SSS", TimeZone::utc()},
        {"SSS", TimeZone::utc()},
    };
    for (const auto& c : cases) {
        const DateFormatter plain(c.pattern, c.zone);
        const LGCachedDateFormatter cached{DateFormatter(c.pattern, c.zone)};
        for (double seconds : dates) {
            const Date date = Date::fromTimeIntervalSince1970(seconds);
            EXPECT_EQ(cached.string(date), plain.string(date))
                << c.pattern << " at " << std::to_string(seconds);
        }
    }
}

// Many dates within one second, as a busy logger sees them: each must floor to the same
// millisecond as the full pattern, also next to a millisecond's edge.
TEST(LGCachedDateFormatterTest, MillisecondsWithinACachedSecondMatchTheFullPattern) {
    const DateFormatter plain("yyyy/MM/dd HH:mm:ss:SSS", TimeZone::utc());
    const LGCachedDateFormatter cached{DateFormatter("yyyy/MM/dd HH:mm:ss:SSS", TimeZone::utc())};
    const double second = 1'700'000'123.0;
    for (int step = 0; step < 20'000; ++step) {
        const double seconds = second + step * 0.00005;
        for (double date : {seconds, std::nextafter(seconds, 0.0), second + step / 20'000.0}) {
            ASSERT_EQ(cached.string(Date::fromTimeIntervalSince1970(date)),
                      plain.string(Date::fromTimeIntervalSince1970(date)))
                << std::to_string(date);
        }
    }
}

TEST(LGCachedDateFormatterTest, CachesOnlyPatternsWhoseOtherFieldsHoldForASecond) {
    EXPECT_TRUE(LGCachedDateFormatter::isCacheable("yyyy/MM/dd HH:mm:ss:SSS"));
    EXPECT_TRUE(LGCachedDateFormatter::isCacheable("'S' ss SSS"));
    EXPECT_FALSE(LGCachedDateFormatter::isCacheable("ss.SSSS"));
    EXPECT_FALSE(LGCachedDateFormatter::isCacheable("A SSS"));
    EXPECT_FALSE(LGCachedDateFormatter::isCacheable("SSS ss"));
    EXPECT_FALSE(LGCachedDateFormatter::isCacheable("'ss SSS"));  // ends inside a quote
}

}  // namespace
}  // namespace pindle
