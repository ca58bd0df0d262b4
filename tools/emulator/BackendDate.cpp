#include "tools/emulator/BackendDate.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace pindle::emulator {

namespace {

constexpr std::int64_t millisPerSecond = 1000;
constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd.dddZ";

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

std::string BackendDate::format(std::int64_t millis) {
    std::int64_t seconds = floorDiv(millis, millisPerSecond);
    auto fraction = static_cast<int>(millis - seconds * millisPerSecond);
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  fraction);
    return text;
}

std::optional<std::int64_t> BackendDate::parse(std::string_view text) {
    if (text.size() != shape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) {
            return std::nullopt;
        }
    }
    auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    std::tm parts{};
    parts.tm_year = number(0, 4) - 1900;
    parts.tm_mon = number(5, 2) - 1;
    parts.tm_mday = number(8, 2);
    parts.tm_hour = number(11, 2);
    parts.tm_min = number(14, 2);
    parts.tm_sec = number(17, 2);
    if (parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_hour > 23 ||
        parts.tm_min > 59 || parts.tm_sec > 60) {
        return std::nullopt;
    }
    std::tm normalized = parts;
    std::time_t seconds = timegm(&normalized);
    if (normalized.tm_mday != parts.tm_mday) {
        return std::nullopt;  // a day the month does not have, such as 02-30
    }
    return static_cast<std::int64_t>(seconds) * millisPerSecond + number(20, 3);
}

std::int64_t BackendDate::nowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace pindle::emulator
