#include "PindleCore/legacy/PFoundationExtensions.hpp"

#include <array>
#include <cstdlib>

#include "platform/app/Device.hpp"
#include "platform/crypto/MD5.hpp"
#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/MethodRegistry.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle::legacy {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Calls `unit` with each UTF-16 code unit of the UTF-8 text; malformed bytes count as one
// replacement character each.
template <class F>
void forEachUTF16Unit(std::string_view text, F&& unit) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        char32_t cp = length == 1   ? lead
                      : length == 2 ? lead & 0x1F
                      : length == 3 ? lead & 0x0F
                                    : lead & 0x07;
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (!valid || cp > 0x10FFFF) {
            unit(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
            unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(cp));
        }
        i += static_cast<std::size_t>(length);
    }
}

}  // namespace

std::string md5(std::string_view text) {
    // The C string ends at the first zero byte.
    return platform::MD5::hexDigest(text.substr(0, text.find('\0')));
}

std::optional<std::string> safeStringWithCString(const char* text) {
    if (text == nullptr)
        return std::nullopt;
    return std::string(text);
}

std::size_t occurrenceCountOfCharacter(std::string_view text, char16_t unit) {
    std::size_t count = 0;
    forEachUTF16Unit(text, [&](char16_t c) { count += c == unit ? 1 : 0; });
    return count;
}

std::string p_jsonStringWithPrettyPrint(const platform::Dictionary& dictionary, bool prettyPrint) {
    platform::Error error;
    const platform::Value value(dictionary);
    const auto text = prettyPrint ? platform::Json::serializePretty(value, &error)
                                  : platform::Json::serialize(value, &error);
    if (text)
        return *text;
    const std::string line = "p_jsonStringWithPrettyPrint: error: " + error.description() + "\n";
    const std::array<std::string_view, 1> pieces{line};
    platform::StandardError::writeGathered(pieces);
    return "{}";
}

float deviceSystemVersion() {
    const std::string version = platform::Device::current().systemVersion();
    return std::strtof(version.c_str(), nullptr);
}

platform::Dictionary PDictionaryByReplacingPercentEscapesInEntriesFromDictionary(
    const platform::Dictionary& dictionary) {
    const auto allowed = platform::CharacterSet::urlHostAllowed();
    platform::Dictionary encoded;
    for (const auto& [key, value] : dictionary) {
        const std::string* text = value.asString();
        encoded[platform::PercentEncoding::encode(key, allowed)] =
            text ? platform::Value(platform::PercentEncoding::encode(*text, allowed)) : value;
    }
    return encoded;
}

unsigned PUIRectCornerFromString(std::string_view text) {
    if (text.empty())
        return PUIRectCornerAllCorners;
    unsigned corners = 0;
    const std::pair<std::string_view, PUIRectCorner> names[] = {
        {"TopLeft", PUIRectCornerTopLeft},
        {"TopRight", PUIRectCornerTopRight},
        {"BottomLeft", PUIRectCornerBottomLeft},
        {"BottomRight", PUIRectCornerBottomRight},
    };
    for (const auto& [name, corner] : names)
        if (text.find(name) != std::string_view::npos)
            corners |= corner;
    return corners;
}

bool Swizzle_ClassMethod(const std::string& classA, const std::string& selectorA,
                         const std::string& classB, const std::string& selectorB) {
    return platform::MethodRegistry::shared().exchange(classA, selectorA, classB, selectorB);
}

}  // namespace pindle::legacy
