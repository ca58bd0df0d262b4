// PFoundationExtensions: the legacy API's small helpers on texts, dictionaries and the
// device, and its free functions: MD5 text of a string, counting a character, percent
// escaping a dictionary, pretty JSON, parsing rectangle corners, the system version as a
// number, and method exchange.
//
// Method exchange works only on the named slots of platform::MethodRegistry: C++ has no
// run-time method table, so Swizzle_ClassMethod on a slot nobody registered changes nothing.
//
// Thread-safety: all functions are safe from any thread. No callbacks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Value.hpp"

namespace pindle::legacy {

// MD5 of the UTF-8 bytes up to the first zero byte, as 32 lower-case hexadecimal digits.
std::string md5(std::string_view text);
// Nothing for a null C string, else its text as well-formed UTF-8: each maximal ill-formed
// part (a stray or missing continuation byte, an overlong form, a surrogate, a value past
// U+10FFFF) becomes one U+FFFD.
std::optional<std::string> safeStringWithCString(const char* text);

// An object that lists the properties its own class declares, in declaration order, for
// descriptionProperties(). C++ has no run-time list of a class's properties, so a class
// names its own: inherited properties are the base's to list, not this one's.
class PDescribesProperties {
  public:
    virtual ~PDescribesProperties() = default;
    virtual std::string propertiesClassName() const = 0;
    virtual std::vector<std::pair<std::string, platform::Value>> declaredProperties() const = 0;
};
// "class = <name>;" followed by "<property> = <value>;" for each declared property: texts
// and numbers as they are, an empty value as "(null)", anything else as its description.
std::string descriptionProperties(const PDescribesProperties& object);
// How many UTF-16 code units of `text` equal `unit`.
std::size_t occurrenceCountOfCharacter(std::string_view text, char16_t unit);
// The JSON text of `dictionary` (pretty when asked); "{}" when it holds something JSON cannot
// carry, which is also logged.
std::string p_jsonStringWithPrettyPrint(const platform::Dictionary& dictionary, bool prettyPrint);
// The device's system version text read as a number ("10.3" is 10.3f; 0 when unreadable).
float deviceSystemVersion();

// Keys and text values percent-encoded with the URL-host-allowed set; other values kept.
// A later entry whose encoded key equals an earlier one's replaces it.
platform::Dictionary PDictionaryByReplacingPercentEscapesInEntriesFromDictionary(
    const platform::Dictionary& dictionary);

enum PUIRectCorner : unsigned {
    PUIRectCornerTopLeft = 1,
    PUIRectCornerTopRight = 2,
    PUIRectCornerBottomLeft = 4,
    PUIRectCornerBottomRight = 8,
    PUIRectCornerAllCorners = ~0u,
};
// All corners for an empty text; otherwise the corners whose names ("TopLeft", "TopRight",
// "BottomLeft", "BottomRight") occur in it, in any form and order.
unsigned PUIRectCornerFromString(std::string_view text);

// Exchanges the slots (classA, selectorA) and (classB, selectorB) of the method registry;
// false, and nothing changed, unless both are registered.
bool Swizzle_ClassMethod(const std::string& classA, const std::string& selectorA,
                         const std::string& classB, const std::string& selectorB);

}  // namespace pindle::legacy
