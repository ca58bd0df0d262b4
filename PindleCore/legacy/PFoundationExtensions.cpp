#include "PindleCore/legacy/PFoundationExtensions.hpp"

#include <array>
#include <cstdlib>

#include "platform/app/Device.hpp"
#include "platform/crypto/MD5.hpp"
#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/MethodRegistry.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/foundation/Text.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle::legacy {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Calls `codePoint` with each code point of the UTF-8 text, strictly decoded (no overlong
// forms, surrogates or values past U+10FFFF): each maximal ill-formed part becomes one
// replacement character, and decoding goes on at the byte that broke it.
template <class F>
void forEachCodePoint(std::string_view text, F&& codePoint) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            codePoint(static_cast<char32_t>(lead));
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        // The range of the second byte, narrower after some leads; later bytes are 80..BF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            codePoint(kReplacement);
            ++i;
            continue;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + taken]);
            if (next < low || next > high)
                break;
            cp = (cp << 6) | (next & 0x3F);
            low = 0x80, high = 0xBF;
            ++taken;
        }
        codePoint(taken == length ? cp : kReplacement);
        i += taken;
    }
}

// Calls `unit` with each UTF-16 code unit of the UTF-8 text, decoded as above.
template <class F>
void forEachUTF16Unit(std::string_view text, F&& unit) {
    forEachCodePoint(text, [&](char32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
            unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(cp));
        }
    });
}

// A value as "%@" shows it: texts and numbers plainly, nothing as "(null)", the rest as
// their descriptions.
std::string shown(const platform::Value& value) {
    if (value.isNull())
        return "(null)";
    if (auto text = value.plainText())
        return *text;
    return value.description();
}

}  // namespace

std::string md5(std::string_view text) {
    // The C string ends at the first zero byte.
    return platform::MD5::hexDigest(text.substr(0, text.find('\0')));
}

std::optional<std::string> safeStringWithCString(const char* text) {
    if (text == nullptr)
        return std::nullopt;
    const std::string_view bytes(text);
    std::string decoded;
    decoded.reserve(bytes.size());
    forEachCodePoint(bytes, [&](char32_t cp) { platform::Text::appendUTF8(decoded, cp); });
    return decoded;
}

std::string descriptionProperties(const PDescribesProperties& object) {
    std::string text = "class = " + object.propertiesClassName() + ";";
    for (const auto& [name, value] : object.declaredProperties())
        text += name + " = " + shown(value) + ";";
    return text;
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
