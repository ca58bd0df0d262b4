#include "platform/foundation/DateFormatter.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace pindle::platform {

namespace {

constexpr std::int64_t millisecondsPerSecond = 1000;
constexpr std::int64_t millisecondsPerDay = 86'400'000;
constexpr std::int64_t secondsPerHour = 3600;
// Two-digit years below this pivot are read as 20xx, others as 19xx.
constexpr int twoDigitYearPivot = 50;
constexpr int roundingNoiseInUnitsOfLastPlace = 4;
// Dates are clamped to about three million years either side of 1970, far beyond any real
// use, so that milliseconds and day arithmetic never overflow.
constexpr double maximumSecondsFrom1970 = 1e14;
// Near 1970 the units in the last place are tiny, but a sum such as -1 + 0.938 still
// carries the error of its larger operand.
constexpr long double roundingNoiseMilliseconds = 1e-6L;

constexpr std::array<std::string_view, 12> monthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> weekdayNames = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

constexpr std::string_view supportedLetters = "yMdEHhamsSAXxZ";

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::int64_t floorModulo(std::int64_t a, std::int64_t b) {
    return a - floorDivide(a, b) * b;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = floorDivide(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
};

CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = floorDivide(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    return {yearOfEra + era * 400 + (month <= 2), month, day};
}

bool isLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || floorModulo(year, 400) == 0;
}

int daysInMonth(std::int64_t year, int month) {
    static constexpr std::array<int, 12> lengths = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : lengths[month - 1];
}

// Whole milliseconds since 1970 of `seconds`, floored. A value within a few units in the
// last place of a whole number of milliseconds counts as exactly that number, so dates
// made from millisecond text come back unchanged even though n/1000 is rarely exact in
// binary.
std::int64_t flooredMilliseconds(double seconds) {
    if (!std::isfinite(seconds))
        return 0;
    seconds = std::clamp(seconds, -maximumSecondsFrom1970, maximumSecondsFrom1970);
    const long double exact = static_cast<long double>(seconds) * 1000.0L;
    const auto nearest = static_cast<std::int64_t>(std::llroundl(exact));
    // Arithmetic on dates (base + 0.059) lands a few units in the last place away from the
    // double nearest to the intended millisecond; that noise must not floor to the one below.
    const double magnitude = std::fabs(seconds);
    const long double noise =
        std::max(static_cast<long double>(std::nextafter(magnitude, HUGE_VAL) - magnitude) *
                     1000.0L * roundingNoiseInUnitsOfLastPlace,
                 roundingNoiseMilliseconds);
    if (std::fabs(exact - static_cast<long double>(nearest)) <= noise)
        return nearest;
    return static_cast<std::int64_t>(std::floor(exact));
}

Date dateFromMilliseconds(std::int64_t milliseconds) {
    return Date::fromTimeIntervalSince1970(static_cast<double>(milliseconds) / 1000.0);
}

void appendPadded(std::string& out, std::int64_t value, int width) {
    std::string digits;
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : value;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        out += '-';
    for (int i = static_cast<int>(digits.size()); i < width; ++i) out += '0';
    out += digits;
}

void appendOffset(std::string& out, int offsetSeconds, bool withColon, bool minutesOptional,
                  bool withSeconds) {
    out += offsetSeconds < 0 ? '-' : '+';
    const int magnitude = std::abs(offsetSeconds);
    const int hours = magnitude / 3600;
    const int minutes = magnitude / 60 % 60;
    const int seconds = magnitude % 60;
    appendPadded(out, hours, 2);
    if (minutesOptional && minutes == 0)
        return;
    if (withColon)
        out += ':';
    appendPadded(out, minutes, 2);
    if (withSeconds && seconds != 0) {
        if (withColon)
            out += ':';
        appendPadded(out, seconds, 2);
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isNumericField(const DateFormatter::Field& field) {
    return std::string_view("ydHhmsSA").find(field.letter) != std::string_view::npos ||
           (field.letter == 'M' && field.count <= 2);
}
char lowerASCII(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lowerASCII(text[i]) != lowerASCII(prefix[i]))
            return false;
    }
    return true;
}

// Reads a parsed text left to right.
class DateTextScanner {
  public:
    explicit DateTextScanner(std::string_view text) : text_(text) {}

    bool atEnd() const { return position_ == text_.size(); }
    std::string_view remaining() const { return text_.substr(position_); }
    void skip(std::size_t count) { position_ += count; }

    bool literal(std::string_view expected) {
        if (!remaining().starts_with(expected))
            return false;
        position_ += expected.size();
        return true;
    }

    // Between `minimum` and `maximum` ASCII digits, as many as there are.
    std::optional<std::int64_t> number(int minimum, int maximum) {
        std::int64_t value = 0;
        int count = 0;
        while (count < maximum && position_ < text_.size() && isDigit(text_[position_])) {
            value = value * 10 + (text_[position_] - '0');
            ++position_;
            ++count;
        }
        if (count < minimum)
            return std::nullopt;
        return value;
    }

    // One of `names` (whole or, with `abbreviated`, its first three letters), ignoring case.
    template <std::size_t N>
    std::optional<int> name(const std::array<std::string_view, N>& names, bool abbreviated) {
        for (std::size_t i = 0; i < N; ++i) {
            const std::string_view candidate = abbreviated ? names[i].substr(0, 3) : names[i];
            if (startsWithIgnoringCase(remaining(), candidate)) {
                position_ += candidate.size();
                return static_cast<int>(i);
            }
        }
        return std::nullopt;
    }

    // "+HH", "+HHMM" or "+HH:MM" as the form asks; the result in seconds east of GMT.
    std::optional<int> offset(bool withColon, bool minutesOptional) {
        if (atEnd() || (text_[position_] != '+' && text_[position_] != '-'))
            return std::nullopt;
        const bool negative = text_[position_] == '-';
        ++position_;
        const auto hours = number(2, 2);
        if (!hours || *hours > 23)
            return std::nullopt;
        std::int64_t minutes = 0;
        const bool minutesFollow = withColon ? remaining().starts_with(":")
                                             : remaining().size() >= 2 && isDigit(remaining()[0]);
        if (minutesFollow) {
            if (withColon)
                skip(1);
            const auto parsed = number(2, 2);
            if (!parsed || *parsed > 59)
                return std::nullopt;
            minutes = *parsed;
        } else if (!minutesOptional) {
            return std::nullopt;
        }
        const int seconds = static_cast<int>(*hours * secondsPerHour + minutes * 60);
        return negative ? -seconds : seconds;
    }

  private:
    std::string_view text_;
    std::size_t position_ = 0;
};

std::vector<DateFormatter::Field> compile(std::string_view pattern) {
    std::vector<DateFormatter::Field> fields;
    auto addLiteral = [&fields](std::string_view text) {
        if (fields.empty() || fields.back().letter != 0)
            fields.push_back({});
        fields.back().literal.append(text);
    };
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                addLiteral("'");
                i += 2;
                continue;
            }
            ++i;
            while (i < pattern.size()) {
                if (pattern[i] == '\'') {
                    if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                        addLiteral("'");
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                addLiteral(pattern.substr(i, 1));
                ++i;
            }
            continue;
        }
        if (supportedLetters.find(c) != std::string_view::npos) {
            std::size_t end = i;
            while (end < pattern.size() && pattern[end] == c) ++end;
            fields.push_back({c, static_cast<int>(end - i), {}});
            i = end;
            continue;
        }
        addLiteral(pattern.substr(i, 1));
        ++i;
    }
    return fields;
}

}  // namespace

DateFormatter::DateFormatter(std::string_view pattern, TimeZone zone)
    : pattern_(pattern), zone_(zone), fields_(compile(pattern)) {}

std::string DateFormatter::string(Date date) const {
    const std::int64_t utcMilliseconds = flooredMilliseconds(date.timeIntervalSince1970());
    const int offset = zone_.secondsFromGMT(dateFromMilliseconds(utcMilliseconds));
    const std::int64_t wallMilliseconds = utcMilliseconds + offset * millisecondsPerSecond;
    const std::int64_t days = floorDivide(wallMilliseconds, millisecondsPerDay);
    const std::int64_t millisecondsInDay = floorModulo(wallMilliseconds, millisecondsPerDay);
    const CivilDate civil = civilFromDays(days);
    const int hour = static_cast<int>(millisecondsInDay / 3'600'000);
    const int minute = static_cast<int>(millisecondsInDay / 60'000 % 60);
    const int second = static_cast<int>(millisecondsInDay / 1000 % 60);
    const int millisecond = static_cast<int>(millisecondsInDay % 1000);
    const int weekday = static_cast<int>(floorModulo(days + 4, 7));  // 1970-01-01 was a Thursday

    std::string out;
    for (const Field& field : fields_) {
        const int n = field.count;
        switch (field.letter) {
            case 0:
                out += field.literal;
                break;
            case 'y': {
                const std::int64_t eraYear = civil.year <= 0 ? 1 - civil.year : civil.year;
                if (n == 2) {
                    appendPadded(out, eraYear % 100, 2);
                } else {
                    appendPadded(out, eraYear, n);
                }
                break;
            }
            case 'M':
                if (n >= 4) {
                    out += monthNames[civil.month - 1];
                } else if (n == 3) {
                    out += monthNames[civil.month - 1].substr(0, 3);
                } else {
                    appendPadded(out, civil.month, n);
                }
                break;
            case 'd':
                appendPadded(out, civil.day, n);
                break;
            case 'E':
                out += n >= 4 ? weekdayNames[weekday] : weekdayNames[weekday].substr(0, 3);
                break;
            case 'H':
                appendPadded(out, hour, n);
                break;
            case 'h':
                appendPadded(out, hour % 12 == 0 ? 12 : hour % 12, n);
                break;
            case 'a':
                out += hour < 12 ? "AM" : "PM";
                break;
            case 'm':
                appendPadded(out, minute, n);
                break;
            case 's':
                appendPadded(out, second, n);
                break;
            case 'S': {
                std::int64_t digits = millisecond;
                for (int k = 3; k > n; --k) digits /= 10;
                for (int k = 3; k < n; ++k) digits *= 10;
                appendPadded(out, digits, n);
                break;
            }
            case 'A':
                appendPadded(out, millisecondsInDay, n);
                break;
            case 'X':
            case 'x':
                if (field.letter == 'X' && offset == 0) {
                    out += 'Z';
                } else {
                    appendOffset(out, offset, /*withColon=*/n == 3 || n == 5,
                                 /*minutesOptional=*/n == 1, /*withSeconds=*/n >= 4);
                }
                break;
            case 'Z':
                if (n <= 3) {
                    appendOffset(out, offset, false, false, false);
                } else if (n == 4) {
                    out += "GMT";
                    if (offset != 0)
                        appendOffset(out, offset, true, false, false);
                } else if (offset == 0) {
                    out += 'Z';
                } else {
                    appendOffset(out, offset, true, false, true);
                }
                break;
        }
    }
    return out;
}

namespace {

// What a text read by the fields said; the defaults stand for the fields a pattern lacks.
struct ReadFields {
    std::int64_t year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    std::optional<std::int64_t> millisecondsInDay;
    std::optional<int> hourOfHalfDay;
    std::optional<bool> afternoon;
    std::optional<int> offset;
};

std::optional<int> inRange(std::optional<std::int64_t> value, std::int64_t lowest,
                           std::int64_t highest) {
    if (!value || *value < lowest || *value > highest)
        return std::nullopt;
    return static_cast<int>(*value);
}

// Reads one field at the scanner into `read`; false when the text does not match it. A field
// of variable width followed directly by a number (`numberFollows`) can only take its minimum
// width, or it would swallow its neighbour's digits.
bool readField(DateTextScanner& scanner, const DateFormatter::Field& field, bool numberFollows,
               ReadFields& read) {
    constexpr int maximumYearDigits = 6;
    constexpr int maximumDayMillisecondDigits = 8;
    const int n = field.count;
    auto numeric = [&](int minimum, int maximum) {
        return scanner.number(minimum, numberFollows ? minimum : maximum);
    };
    // Stores an engaged `value` in `into`; false when it is empty.
    auto keep = [](auto value, auto& into) {
        if (!value)
            return false;
        into = *value;
        return true;
    };
    switch (field.letter) {
        case 0:
            return scanner.literal(field.literal);
        case 'y': {
            const auto parsed =
                n == 2 ? scanner.number(2, 2) : numeric(n, std::max(n, maximumYearDigits));
            if (!parsed)
                return false;
            read.year = n == 2 ? (*parsed < twoDigitYearPivot ? 2000 : 1900) + *parsed : *parsed;
            return true;
        }
        case 'M': {
            if (n < 3)
                return keep(inRange(numeric(n, 2), 1, 12), read.month);
            const auto index = scanner.name(monthNames, n == 3);
            if (!index)
                return false;
            read.month = *index + 1;
            return true;
        }
        case 'd':
            return keep(inRange(numeric(n, 2), 1, 31), read.day);
        case 'E':
            return scanner.name(weekdayNames, n < 4).has_value();
        case 'H':
            return keep(inRange(numeric(n, 2), 0, 23), read.hour);
        case 'h':
            read.hourOfHalfDay = inRange(numeric(n, 2), 1, 12);
            return read.hourOfHalfDay.has_value();
        case 'a':
            if (startsWithIgnoringCase(scanner.remaining(), "AM")) {
                read.afternoon = false;
            } else if (startsWithIgnoringCase(scanner.remaining(), "PM")) {
                read.afternoon = true;
            } else {
                return false;
            }
            scanner.skip(2);
            return true;
        case 'm':
            return keep(inRange(numeric(n, 2), 0, 59), read.minute);
        case 's':
            return keep(inRange(numeric(n, 2), 0, 59), read.second);
        case 'S': {
            auto parsed = scanner.number(n, n);
            if (!parsed)
                return false;
            for (int k = n; k < 3; ++k) *parsed *= 10;
            for (int k = n; k > 3; --k) *parsed /= 10;
            read.millisecond = static_cast<int>(*parsed);
            return true;
        }
        case 'A':
            read.millisecondsInDay = inRange(numeric(n, std::max(n, maximumDayMillisecondDigits)),
                                             0, millisecondsPerDay - 1);
            return read.millisecondsInDay.has_value();
        case 'X':
        case 'x':
            if (field.letter == 'X' && scanner.literal("Z")) {
                read.offset = 0;
            } else {
                read.offset = scanner.offset(n == 3 || n == 5, n == 1);
            }
            return read.offset.has_value();
        case 'Z':
            if (n <= 3) {
                read.offset = scanner.offset(false, false);
            } else if (n == 4) {
                if (!scanner.literal("GMT"))
                    return false;
                read.offset = scanner.remaining().empty() || (scanner.remaining()[0] != '+' &&
                                                              scanner.remaining()[0] != '-')
                                  ? std::optional<int>(0)
                                  : scanner.offset(true, false);
            } else if (scanner.literal("Z")) {
                read.offset = 0;
            } else {
                read.offset = scanner.offset(true, false);
            }
            return read.offset.has_value();
    }
    return true;
}

}  // namespace

std::optional<Date> DateFormatter::date(std::string_view text) const {
    DateTextScanner scanner(text);
    ReadFields read;
    for (std::size_t index = 0; index < fields_.size(); ++index) {
        const bool numberFollows = index + 1 < fields_.size() && isNumericField(fields_[index + 1]);
        if (!readField(scanner, fields_[index], numberFollows, read))
            return std::nullopt;
    }
    if (!scanner.atEnd())
        return std::nullopt;
    if (read.day > daysInMonth(read.year, read.month))
        return std::nullopt;
    if (read.hourOfHalfDay)
        read.hour = *read.hourOfHalfDay % 12 + (read.afternoon.value_or(false) ? 12 : 0);

    const std::int64_t wallMilliseconds =
        daysFromCivil(read.year, read.month, read.day) * millisecondsPerDay +
        read.millisecondsInDay.value_or(((read.hour * 60LL + read.minute) * 60 + read.second) *
                                            millisecondsPerSecond +
                                        read.millisecond);
    if (read.offset)
        return dateFromMilliseconds(wallMilliseconds - *read.offset * 1000LL);
    // Find the offset in effect at the instant whose wall time this is: guess with the
    // offset at the wall time read as UTC, then correct once with the offset at the guess.
    int offset = zone_.secondsFromGMT(dateFromMilliseconds(wallMilliseconds));
    offset = zone_.secondsFromGMT(dateFromMilliseconds(wallMilliseconds - offset * 1000LL));
    return dateFromMilliseconds(wallMilliseconds - offset * 1000LL);
}

namespace {

// Compiling the pattern costs more than a conversion, and a list reply converts two dates per
// record; the formatter is immutable, so one serves every thread. It is never destroyed: a
// worker may still be converting a date while the process exits.
const DateFormatter& utcMillisecondsFormatter() {
    static const auto* formatter = new DateFormatter(DateFormatter::utcMillisecondsPattern);
    return *formatter;
}

// The number in the `count` digits at `at`, or -1 when one of them is not a digit.
int fixedDigits(std::string_view text, std::size_t at, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char c = text[at + static_cast<std::size_t>(i)];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The backend writes every date as "2024-03-01T09:10:00.000Z", and a list reply holds two per
// record: that one shape is read directly. Text of any other shape, or with a field out of
// range, gives nothing here and takes the general pattern walk, which decides it.
std::optional<Date> canonicalUTCMillisecondsDate(std::string_view text) {
    constexpr std::string_view shape = "0000-00-00T00:00:00.000Z";
    if (text.size() != shape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] != '0' && text[i] != shape[i])
            return std::nullopt;
    }
    const int year = fixedDigits(text, 0, 4);
    const int month = fixedDigits(text, 5, 2);
    const int day = fixedDigits(text, 8, 2);
    const int hour = fixedDigits(text, 11, 2);
    const int minute = fixedDigits(text, 14, 2);
    const int second = fixedDigits(text, 17, 2);
    const int millisecond = fixedDigits(text, 20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0) {
        return std::nullopt;
    }
    return dateFromMilliseconds(daysFromCivil(year, month, day) * millisecondsPerDay +
                                ((hour * 60LL + minute) * 60 + second) * millisecondsPerSecond +
                                millisecond);
}

}  // namespace

std::string DateFormatter::utcMillisecondsString(Date date) {
    return utcMillisecondsFormatter().string(date);
}

std::optional<Date> DateFormatter::utcMillisecondsDate(std::string_view text) {
    if (std::optional<Date> date = canonicalUTCMillisecondsDate(text))
        return date;
    return utcMillisecondsFormatter().date(text);
}

}  // namespace pindle::platform
