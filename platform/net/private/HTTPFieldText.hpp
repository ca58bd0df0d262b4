#pragma once

// Private to platform/net: the text operations HTTP field names and values need, shared by
// the parsers of response heads and the response's own field lookups. Pure functions; safe
// from any thread.

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace pindle::platform::http_field_text {

// Field names and tokens compare without regard to (ASCII) case.
inline std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// Without the spaces and tabs HTTP allows around a field's value.
inline std::string_view trimmed(std::string_view text) {
    const auto isBlank = [](char c) {
        return c == ' ' || c == '\t';
    };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace pindle::platform::http_field_text
