#include "PindleCore/legacy/PAppUtil.hpp"

#include "platform/app/Device.hpp"
#include "platform/foundation/MethodRegistry.hpp"

namespace pindle::legacy {

namespace {

// Where the colon of a "+hh:mm" zone offset stands after the 19 characters of date and time
// and the offset's sign and hours.
constexpr std::size_t zoneColonIndex = 22;

}  // namespace

std::string PAppUtil::systemVersion() {
    return platform::Device::current().systemVersion().substr(0, 1);
}

std::string PAppUtil::deviceName() {
    return platform::Device::current().machine();
}

std::optional<platform::Date> PAppUtil::getDateFromString(
    std::string_view text, const platform::DateFormatter& formatter) {
    return formatter.date(text);
}

std::string PAppUtil::getStringFromDate(platform::Date date,
                                        const platform::DateFormatter& formatter) {
    return formatter.string(date);
}

std::optional<platform::Date> PAppUtil::getDateFromStringWithSemicolonAtEnd(std::string_view text) {
    if (text.size() <= zoneColonIndex)
        return std::nullopt;
    std::string withoutColon(text);
    withoutColon.erase(zoneColonIndex, 1);
    return dateFormatterWithZone().date(withoutColon);
}

std::string PAppUtil::getStringFromDateWithSemicolonAtEnd(platform::Date date) {
    std::string text = dateFormatterWithZone().string(date);
    if (text.size() >= zoneColonIndex)
        text.insert(zoneColonIndex, ":");
    return text;
}

platform::DateFormatter PAppUtil::dateFormatterGMT() {
    return platform::DateFormatter("yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", platform::TimeZone::fixed(0));
}

platform::DateFormatter PAppUtil::dateFormatterWithZone() {
    return platform::DateFormatter("yyyy-MM-dd'T'HH:mm:ssZZZ", platform::TimeZone::local());
}

bool PAppUtil::swizzleClass(const std::string& className, const std::string& origin,
                            const std::string& replacement) {
    return swizzleInstance(className, origin, className, replacement);
}

bool PAppUtil::swizzleInstance(const std::string& className, const std::string& origin,
                               const std::string& otherClass, const std::string& replacement) {
    return platform::MethodRegistry::shared().exchange(className, origin, otherClass, replacement);
}

}  // namespace pindle::legacy
