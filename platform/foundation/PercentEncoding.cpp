#include "platform/foundation/PercentEncoding.hpp"

#include "platform/foundation/Text.hpp"

namespace pindle::platform {

namespace {

constexpr char upperHexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string PercentEncoding::encode(std::string_view text, const CharacterSet& allowed) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (allowed.contains(c)) {
            result += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            result += '%';
            result += upperHexDigits[byte >> 4];
            result += upperHexDigits[byte & 0xF];
        }
    }
    return result;
}

std::optional<std::string> PercentEncoding::decode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!Text::isValidUTF8(result))
        return std::nullopt;
    return result;
}

}  // namespace pindle::platform
