// DateFormatter: turns Dates into text and back with a fixed pattern, in the platform's
// date-pattern language, always in the proleptic Gregorian calendar with ASCII digits and
// English names whatever the process locale.
//
// Pattern letters:
//   y     year (yyyy: at least four digits; yy: last two digits; y: as many as needed).
//         Years before 1 are written as era years (year 0 is 1 BC, written as 1).
//         Dates are clamped to about three million years around 1970.
//   M     month (M, MM digits; MMM "Jan"; MMMM "January")
//   d     day of month            E    day of week (E..EEE "Mon"; EEEE "Monday")
//   H     hour 0-23               h    hour 1-12          a    "AM" / "PM"
//   m     minute                  s    second
//   S     fraction of a second, truncated to as many digits as letters (SSS: milliseconds)
//   A     milliseconds in the day (at least as many digits as letters)
//   X     zone, "Z" for UTC: X "+HH" ("+HHMM" if needed), XX "+HHMM", XXX "+HH:MM", XXXX "+HHMM",
//   XXXXX "+HH:MM" x     like X but never "Z" Z     Z/ZZ/ZZZ "+HHMM"; ZZZZ "GMT+HH:MM"; ZZZZZ like
//   XXXXX
// Text between single quotes is literal ('' is one quote); other non-letters are
// literal; any other letter is taken literally too.
//
// Dates are cut to whole milliseconds by flooring, the same for every field. A date within
// a few units in the last place (or a nanosecond) of a whole millisecond counts as that
// millisecond, so arithmetic noise (a date plus 0.059 s) never loses a millisecond and a
// date parsed from text with milliseconds formats back to the same text.
//
// Parsing is strict: the whole text must match the pattern, fixed-width numeric fields
// (MM, dd, HH, mm, ss, SSS...) need exactly their digits, yyyy (up to six) and A accept more
// digits, values must be in range (February 30 is refused). A zone field in the text wins over
// the formatter's zone.
//
// Thread-safety: immutable after construction; one formatter may be shared by threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.hpp"
#include "platform/foundation/TimeZone.hpp"

namespace pindle::platform {

class DateFormatter {
  public:
    // Milliseconds in UTC with a literal T and Z, as the video backend exchanges dates.
    static constexpr const char* utcMillisecondsPattern = "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'";
    // A log timestamp: "2019-03-01 10:20:30.456Z" in UTC.
    static constexpr const char* logTimestampPattern = "yyyy-MM-dd HH:mm:ss.SSSXXXXX";

    explicit DateFormatter(std::string_view pattern, TimeZone zone = TimeZone::utc());

    std::string string(Date date) const;
    // The date `text` denotes, or nothing when it does not match the pattern exactly.
    std::optional<Date> date(std::string_view text) const;

    const std::string& pattern() const { return pattern_; }
    TimeZone timeZone() const { return zone_; }

    // Shorthands for utcMillisecondsPattern in UTC.
    static std::string utcMillisecondsString(Date date);
    static std::optional<Date> utcMillisecondsDate(std::string_view text);

    struct Field {
        char letter = 0;  // 0 for literal text
        int count = 0;
        std::string literal;
    };

  private:
    std::string pattern_;
    TimeZone zone_;
    std::vector<Field> fields_;
};

}  // namespace pindle::platform
