#include "platform/foundation/MediaTime.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/Value.hpp"
#include "platform/media/TimeRange.hpp"

namespace pindle::platform {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
const MediaTime kInvalid = MediaTime::invalid();
const MediaTime indefinite = MediaTime::indefiniteTime();
const MediaTime plusInf = MediaTime::positiveInfinityTime();
const MediaTime minusInf = MediaTime::negativeInfinityTime();

TEST(MediaTimeTest, SecondsOfSpecialTimes) {
    EXPECT_TRUE(std::isnan(kInvalid.seconds()));
    EXPECT_TRUE(std::isnan(MediaTime(5, 0).seconds()));
    EXPECT_TRUE(std::isnan(indefinite.seconds()));
    EXPECT_EQ(plusInf.seconds(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(minusInf.seconds(), -std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(MediaTime(30, 1000000000).seconds() * 1e9, 30.0);
}

TEST(MediaTimeTest, ArithmeticAcrossTimescalesAndSpecials) {
    struct Case {
        MediaTime a, b, sum, difference;
    };
    const Case cases[] = {
        {MediaTime(1, 2), MediaTime(1, 3), MediaTime(5, 6), MediaTime(1, 6)},
        {MediaTime(33363, 1000000), MediaTime(33363, 1000000), MediaTime(66726, 1000000),
         MediaTime::zero()},
        {MediaTime(1, 1000000000), MediaTime(1, 1000000), MediaTime(1001, 1000000000),
         MediaTime(-999, 1000000000)},
        {kInvalid, MediaTime(1, 1), kInvalid, kInvalid},
        {indefinite, MediaTime(1, 1), indefinite, indefinite},
        {indefinite, plusInf, indefinite, indefinite},
        {plusInf, MediaTime(1, 1), plusInf, plusInf},
        {MediaTime(1, 1), plusInf, plusInf, minusInf},
        {plusInf, minusInf, kInvalid, plusInf},
        {plusInf, plusInf, plusInf, kInvalid},
        // Overflow saturates instead of wrapping.
        {MediaTime(kMax, 1), MediaTime(1, 1), plusInf, MediaTime(kMax - 1, 1)},
        {MediaTime(kMin, 1), MediaTime(1, 1), MediaTime(kMin + 1, 1), minusInf},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a.description() + " and " + c.b.description());
        EXPECT_EQ(c.a + c.b, c.sum) << (c.a + c.b).description();
        EXPECT_EQ(c.a - c.b, c.difference) << (c.a - c.b).description();
    }
    // Timescales whose common multiple exceeds 32 bits round to the finer one.
    const MediaTime odd = MediaTime(1, 2147483647) + MediaTime(1, 2147483646);
    EXPECT_EQ(odd.timescale, 2147483647);
    EXPECT_EQ(odd.value, 2);
    EXPECT_EQ(-MediaTime(kMin, 1), plusInf);
}

TEST(MediaTimeTest, ComparisonIsExactAndTotal) {
    EXPECT_EQ(MediaTime(1, 2), MediaTime(500000, 1000000));
    EXPECT_LT(MediaTime(kMax, 1000000000), MediaTime(kMax, 999999999));  // no overflow
    EXPECT_GT(MediaTime(kMin, 1), minusInf);
    EXPECT_LT(kInvalid, minusInf);
    EXPECT_LT(MediaTime(kMax, 1), plusInf);
    EXPECT_LT(plusInf, indefinite);
    EXPECT_EQ(kInvalid, MediaTime(3, 0));
}

TEST(MediaTimeTest, MakeWithSecondsAndConvertScale) {
    EXPECT_EQ(MediaTime::makeWithSeconds(2.0, 600), MediaTime(1200, 600));
    EXPECT_EQ(MediaTime::makeWithSeconds(0.0333635, 1000000).value, 33364);
    EXPECT_FALSE(MediaTime::makeWithSeconds(std::nan(""), 600).isValid());
    EXPECT_EQ(MediaTime::makeWithSeconds(1e300, 600), plusInf);
    EXPECT_EQ(MediaTime::makeWithSeconds(-INFINITY, 600), minusInf);
    EXPECT_EQ(MediaTime(1, 3).convertScale(1000).value, 333);
    EXPECT_EQ(MediaTime(kMax, 1).convertScale(1000), plusInf);
    EXPECT_EQ(indefinite.convertScale(1000), indefinite);
}

TEST(TimeRangeTest, ContainmentUnionAndIntersection) {
    const auto range = [](double from, double to) {
        return TimeRange::fromStartToEnd(MediaTime::makeWithSeconds(from, 1000),
                                         MediaTime::makeWithSeconds(to, 1000));
    };
    const TimeRange a = range(1, 3);
    EXPECT_TRUE(a.contains(MediaTime(1, 1)));
    EXPECT_FALSE(a.contains(MediaTime(3, 1)));  // the end is outside
    EXPECT_FALSE(a.contains(indefinite));
    EXPECT_EQ(a.unionWith(range(5, 6)), range(1, 6));
    EXPECT_EQ(a.intersection(range(2, 6)), range(2, 3));
    EXPECT_TRUE(a.intersection(range(4, 6)).isEmpty());
    EXPECT_FALSE(a.unionWith(TimeRange::invalid()).isValid());

    const TimeRange toEnd{MediaTime(2, 1), plusInf};
    EXPECT_TRUE(toEnd.isValid());
    EXPECT_TRUE(toEnd.contains(MediaTime(kMax, 1)));
    EXPECT_EQ(a.intersection(toEnd), range(2, 3));
    EXPECT_FALSE((TimeRange{MediaTime(0, 1), MediaTime(-1, 1)}).isValid());
}

TEST(TimeRangeTest, RangesAndTimesRideInValues) {
    const std::vector<TimeRange> ranges = {TimeRange{MediaTime(0, 1), MediaTime(2, 1)},
                                           TimeRange{MediaTime(4, 1), MediaTime(1, 1)}};
    EXPECT_EQ(timeRangesFromValue(toKVOValue(ranges)), ranges);
    EXPECT_TRUE(timeRangesFromValue(Value("text")).empty());
    EXPECT_EQ(mediaTimeFromValue(toKVOValue(MediaTime(7, 3))), MediaTime(7, 3));
    EXPECT_FALSE(mediaTimeFromValue(Value(3)).isValid());
}

}  // namespace
}  // namespace pindle::platform
