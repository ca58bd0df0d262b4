// PAppUtil: the legacy API's application utilities: the system version's first character,
// the hardware name, ISO-8601 dates with and without a colon in the zone offset, and method
// exchange.
//
// Method exchange works only on the named slots of platform::MethodRegistry (C++ has no
// run-time method table): swizzling a slot nobody registered changes nothing.
//
// Thread-safety: all functions are safe from any thread. No callbacks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Date.hpp"
#include "platform/foundation/DateFormatter.hpp"

namespace pindle::legacy {

class PAppUtil {
  public:
    // The first character of the system version ("10.3" gives "1").
    static std::string systemVersion();
    // The hardware model name (uname's machine field).
    static std::string deviceName();

    static std::optional<platform::Date> getDateFromString(
        std::string_view text, const platform::DateFormatter& formatter);
    static std::string getStringFromDate(platform::Date date,
                                         const platform::DateFormatter& formatter);
    // "2017-03-01T10:20:30+02:00" -> the instant: the colon at index 22 is dropped and the
    // rest read with dateFormatterWithZone(). A text too short to hold that colon gives no
    // date.
    static std::optional<platform::Date> getDateFromStringWithSemicolonAtEnd(std::string_view text);
    // The instant written with dateFormatterWithZone() and ":" put in at index 22 (+0200 ->
    // +02:00); a text too short for it stays as it is.
    static std::string getStringFromDateWithSemicolonAtEnd(platform::Date date);

    // "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" at GMT.
    static platform::DateFormatter dateFormatterGMT();
    // "yyyy-MM-dd'T'HH:mm:ssZZZ" in the local zone.
    static platform::DateFormatter dateFormatterWithZone();

    // Exchanges the registry slots (className, origin) and (className, replacement).
    static bool swizzleClass(const std::string& className, const std::string& origin,
                             const std::string& replacement);
    // Exchanges the registry slots (className, origin) and (otherClass, replacement).
    static bool swizzleInstance(const std::string& className, const std::string& origin,
                                const std::string& otherClass, const std::string& replacement);
};

}  // namespace pindle::legacy
