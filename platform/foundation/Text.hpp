// Text: small helpers for UTF-8 text that the platform's string type provides.
//
// Thread-safety: stateless; every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindle::platform {

class Text {
  public:
    Text() = delete;

    // The decimal integer `text` spells: an optional leading '-', then one or more ASCII
    // digits and nothing else (no blanks, no '+', no fraction). Nothing when the text has
    // another shape or the value does not fit a signed 64-bit integer.
    static std::optional<std::int64_t> int64Value(std::string_view text);
    // The same with one optional sign, '+' or '-': "+137" reads as 137; "+-4", "-+4" and "++4"
    // read as nothing. The reading of decimal fields that other systems write.
    static std::optional<std::int64_t> signedInt64Value(std::string_view text);

    // The number of user-perceived characters (extended grapheme clusters) of UTF-8 text:
    // a letter with combining marks, a flag, or an emoji joined of several code points
    // counts as one. Each invalid byte counts as one character.
    static std::size_t characterCount(std::string_view text);

    static bool isValidUTF8(std::string_view text);
    // Appends the UTF-8 form of `code` (at most U+10FFFF; callers keep surrogates out).
    static void appendUTF8(std::string& out, char32_t code);

    // The pieces of `text` between occurrences of `separator`, in order; empty pieces are
    // dropped when `omitEmpty`.
    static std::vector<std::string> split(std::string_view text, char separator, bool omitEmpty);
};

}  // namespace pindle::platform
