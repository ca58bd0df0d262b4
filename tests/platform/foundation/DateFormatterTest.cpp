#include "platform/foundation/DateFormatter.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <locale>
#include <string>

namespace pindle::platform {
namespace {

Date at(double seconds) {
    return Date::fromTimeIntervalSince1970(seconds);
}

TEST(DateFormatterTest, FormatsUTCMillisecondsAtTheEdges) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {-0.001, "1969-12-31T23:59:59.999Z"},
        {-14182940, "1969-07-20T20:17:40.000Z"},
        {1551435630.456, "2019-03-01T10:20:30.456Z"},
        {1582979696.789, "2020-02-29T12:34:56.789Z"},
        {-2203891201, "1900-02-28T23:59:59.000Z"},
        {-2203891200, "1900-03-01T00:00:00.000Z"},
        {-11670998400, "1600-02-29T00:00:00.000Z"},
        {-62135596800, "0001-01-01T00:00:00.000Z"},
        {253402300799.999, "9999-12-31T23:59:59.999Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateFormatter::utcMillisecondsString(at(c.seconds)), c.text);
        const std::optional<Date> parsed = DateFormatter::utcMillisecondsDate(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(parsed->timeIntervalSince1970(), c.seconds) << c.text;
    }
}

TEST(DateFormatterTest, FloorsToWholeMillisecondsAndRoundTripsEveryMillisecond) {
    EXPECT_EQ(DateFormatter::utcMillisecondsString(at(0.0009999)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(DateFormatter::utcMillisecondsString(at(-0.0000001)), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(DateFormatter::utcMillisecondsString(at(1551435630.4569)),
              "2019-03-01T10:20:30.456Z");

    // Every millisecond of one second, after 1970 and before: text -> date -> text is exact.
    for (double base : {1551435630.0, -1.0, 253402300798.0}) {
        for (int ms = 0; ms < 1000; ++ms) {
            const Date date = at(base + ms / 1000.0);
            const std::string text = DateFormatter::utcMillisecondsString(date);
            const std::optional<Date> back = DateFormatter::utcMillisecondsDate(text);
            ASSERT_TRUE(back.has_value()) << text;
            ASSERT_EQ(DateFormatter::utcMillisecondsString(*back), text);
            ASSERT_EQ(text.substr(20, 3), (ms < 10    ? "00"
                                           : ms < 100 ? "0"
                                                      : "") +
                                              std::to_string(ms))
                << text;
        }
    }
}

TEST(DateFormatterTest, FormatsPatternLettersAndZones) {
    const Date date = at(1551435630.456);  // Friday 2019-03-01 10:20:30.456 UTC
    const TimeZone india = TimeZone::fixed(5 * 3600 + 30 * 60);
    const TimeZone pacific = TimeZone::fixed(-8 * 3600);
    struct Case {
        const char* pattern;
        TimeZone zone;
        const char* text;
    };
    const Case cases[] = {
        {DateFormatter::logTimestampPattern, TimeZone::utc(), "2019-03-01 10:20:30.456Z"},
        {DateFormatter::logTimestampPattern, india, "2019-03-01 15:50:30.456+05:30"},
        {DateFormatter::logTimestampPattern, pacific, "2019-03-01 02:20:30.456-08:00"},
        {"HH:mm Z", india, "15:50 +0530"},
        {"HH:mm ZZZ", TimeZone::utc(), "10:20 +0000"},
        {"ZZZZ|ZZZZZ", india, "GMT+05:30|+05:30"},
        {"ZZZZ|ZZZZZ", TimeZone::utc(), "GMT|Z"},
        {"X|XX|XXX|xxx", pacific, "-08|-0800|-08:00|-08:00"},
        {"X|XX|XXX|x", TimeZone::utc(), "Z|Z|Z|+00"},
        {"AAA", TimeZone::utc(), "37230456"},
        {"AAAAAAAAA", TimeZone::utc(), "037230456"},
        {"s.S|s.SS|s.SSSS", TimeZone::utc(), "30.4|30.45|30.4560"},
        {"EEE, d MMM yyyy hh:mm a", TimeZone::utc(), "Fri, 1 Mar 2019 10:20 AM"},
        {"EEEE d MMMM yy h a", pacific, "Friday 1 March 19 2 AM"},
        {"yyyyMMdd'T'HHmmss", TimeZone::utc(), "20190301T102030"},
        {"'It''s' HH 'o''clock'", TimeZone::utc(), "It's 10 o'clock"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateFormatter(c.pattern, c.zone).string(date), c.text) << c.pattern;
    }
    EXPECT_EQ(DateFormatter("hh a").string(at(12 * 3600)), "12 PM");
    EXPECT_EQ(DateFormatter("hh a").string(at(0)), "12 AM");
}

TEST(DateFormatterTest, ParsingIsStrict) {
    const DateFormatter backend(DateFormatter::utcMillisecondsPattern);
    const char* rejected[] = {
        "",
        "2019-03-01T10:20:30.45Z",
        "2019-03-01T10:20:30.4567Z",
        "2019-03-01T10:20:30.456",
        "2019-03-01T10:20:30.456Z ",
        " 2019-03-01T10:20:30.456Z",
        "2019-03-01 10:20:30.456Z",
        "2019-3-01T10:20:30.456Z",
        "2019-13-01T10:20:30.456Z",
        "2019-00-01T10:20:30.456Z",
        "2019-02-29T10:20:30.456Z",
        "1900-02-29T10:20:30.456Z",
        "2019-04-31T10:20:30.456Z",
        "2019-03-01T24:00:00.000Z",
        "2019-03-01T10:60:00.000Z",
        "2019-03-01T10:20:60.000Z",
        "2019-03-01t10:20:30.456z",
        "2019-03-01T10:20:30.456+00:00",
        "\xD9\xA2\xD9\xA0\xD9\xA1\xD9\xA9-03-01T10:20:30.456Z",
    };
    for (const char* text : rejected) {
        EXPECT_FALSE(backend.date(text).has_value()) << text;
    }
    EXPECT_TRUE(backend.date("2000-02-29T00:00:00.000Z").has_value());
    EXPECT_TRUE(backend.date("12019-03-01T10:20:30.456Z").has_value());  // yyyy takes more digits
    EXPECT_TRUE(backend.date("999999-12-31T23:59:59.999Z").has_value());
    EXPECT_FALSE(backend.date("1000000-01-01T00:00:00.000Z").has_value());
}

TEST(DateFormatterTest, TheShorthandReadsExactlyWhatTheGeneralPatternReads) {
    const DateFormatter backend(DateFormatter::utcMillisecondsPattern);
    const auto agree = [&backend](const std::string& text) {
        const std::optional<Date> general = backend.date(text);
        const std::optional<Date> shorthand = DateFormatter::utcMillisecondsDate(text);
        EXPECT_EQ(general.has_value(), shorthand.has_value()) << text;
        if (general && shorthand) {
            EXPECT_EQ(general->timeIntervalSince1970(), shorthand->timeIntervalSince1970()) << text;
        }
    };
    const auto two = [](int n) {
        return std::string(n < 10 ? "0" : "") + std::to_string(n);
    };
    // Every month and day number, valid or not, in years that test the leap rules.
    for (const char* year : {"0000", "1900", "1970", "2000", "2019", "2024", "2100", "9999"}) {
        for (int month = 0; month <= 13; ++month) {
            for (int day = 0; day <= 32; ++day) {
                agree(std::string(year) + "-" + two(month) + "-" + two(day) + "T12:34:56.789Z");
            }
        }
    }
    for (int n = 0; n <= 61; ++n) {
        agree("2024-03-01T" + two(n % 26) + ":00:00.000Z");
        agree("2024-03-01T00:" + two(n) + ":00.000Z");
        agree("2024-03-01T00:00:" + two(n) + ".000Z");
    }
    for (const char* text :
         {"2024-03-01T09:10:00.999Z", "2024-03-01T09:10:00.0a0Z", "2024-03-01T09:10:00.000z",
          "2024-03-01t09:10:00.000Z", "2024/03/01T09:10:00.000Z", "2024-03-01T09:10:00,000Z",
          "-024-03-01T09:10:00.000Z", "12024-03-01T09:10:00.000Z"}) {
        agree(text);
    }
}

TEST(DateFormatterTest, AbsurdDatesAreClampedNotOverflowed) {
    const DateFormatter local(DateFormatter::utcMillisecondsPattern, TimeZone::local());
    for (double seconds : {1e300, -1e300, std::nan(""), HUGE_VAL}) {
        EXPECT_FALSE(DateFormatter::utcMillisecondsString(at(seconds)).empty());
        EXPECT_FALSE(local.string(at(seconds)).empty());
    }
}

TEST(DateFormatterTest, ParsesZonesInTheText) {
    const double instant = 1551435630.456;
    const DateFormatter log(DateFormatter::logTimestampPattern, TimeZone::fixed(3600));
    const char* sameInstant[] = {
        "2019-03-01 10:20:30.456Z",
        "2019-03-01 15:50:30.456+05:30",
        "2019-03-01 02:20:30.456-08:00",
    };
    for (const char* text : sameInstant) {
        const std::optional<Date> date = log.date(text);
        ASSERT_TRUE(date.has_value()) << text;
        EXPECT_EQ(date->timeIntervalSince1970(), instant) << text;
    }
    EXPECT_FALSE(log.date("2019-03-01 10:20:30.456+0530").has_value());
    EXPECT_EQ(
        DateFormatter("yyyyMMddHHmmZ").date("201903011550+0530").value().timeIntervalSince1970(),
        1551435600);
    EXPECT_EQ(DateFormatter("yyyy-MM-dd HH:mm:ss ZZZZ")
                  .date("2019-03-01 10:20:30 GMT")
                  ->timeIntervalSince1970(),
              1551435630);
    // Without a zone in the text, the formatter's zone applies.
    EXPECT_EQ(DateFormatter("yyyy-MM-dd HH:mm", TimeZone::fixed(-3600))
                  .date("1970-01-01 00:00")
                  ->timeIntervalSince1970(),
              3600);
    EXPECT_EQ(DateFormatter("dd MMM yyyy hh:mm:ss.SSS a")
                  .date("01 mar 2019 10:20:30.456 pm")
                  ->timeIntervalSince1970(),
              instant + 12 * 3600);
    EXPECT_EQ(DateFormatter("AAAAAAAA").date("37230456").value().timeIntervalSince1970(),
              37230.456);
}

// Switches the process's local zone for the test and puts the previous one back.
class LocalZone {
  public:
    explicit LocalZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~LocalZone() {
        if (previous_) {
            ::setenv("TZ", previous_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> previous_;
};

TEST(DateFormatterTest, LocalZoneFollowsDaylightSaving) {
    LocalZone zone("EST5EDT,M3.2.0,M11.1.0");
    const DateFormatter local("yyyy-MM-dd HH:mm:ss.SSS ZZZ", TimeZone::local());
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {1551435630.456, "2019-03-01 05:20:30.456 -0500"},
        {1562062830.5, "2019-07-02 06:20:30.500 -0400"},
        {-0.001, "1969-12-31 18:59:59.999 -0500"},
    };
    const DateFormatter localWithoutZone("yyyy-MM-dd HH:mm:ss.SSS", TimeZone::local());
    for (const Case& c : cases) {
        EXPECT_EQ(local.string(at(c.seconds)), c.text);
        EXPECT_EQ(local.date(c.text).value().timeIntervalSince1970(), c.seconds) << c.text;
        const std::string wall = localWithoutZone.string(at(c.seconds));
        EXPECT_EQ(localWithoutZone.date(wall).value().timeIntervalSince1970(), c.seconds) << wall;
    }
    // UTC formatting ignores the local zone.
    EXPECT_EQ(DateFormatter::utcMillisecondsString(at(1551435630.456)), "2019-03-01T10:20:30.456Z");
}

struct GroupingPunctuation : std::numpunct<char> {
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
    char do_decimal_point() const override { return ','; }
};

TEST(DateFormatterTest, IgnoresTheProcessLocale) {
    const std::string previousC = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C.UTF-8");
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GroupingPunctuation));

    const std::string text = DateFormatter::utcMillisecondsString(at(253402300799.999));
    const std::optional<Date> parsed =
        DateFormatter::utcMillisecondsDate("2019-03-01T10:20:30.456Z");
    const std::string log = DateFormatter(DateFormatter::logTimestampPattern).string(at(1e9));

    std::locale::global(previous);
    std::setlocale(LC_ALL, previousC.c_str());

    EXPECT_EQ(text, "9999-12-31T23:59:59.999Z");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->timeIntervalSince1970(), 1551435630.456);
    EXPECT_EQ(log, "2001-09-09 01:46:40.000Z");
}

}  // namespace
}  // namespace pindle::platform
