#include "tools/emulator/Base64.hpp"

#include <array>
#include <cstdint>

namespace pindle::emulator {

namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
    auto at = alphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

std::string Base64::encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
        std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        if (count > 1) {
            group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        }
        if (count > 2) {
            group |= static_cast<std::uint8_t>(bytes[i + 2]);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= count ? alphabet[(group >> (18 - 6 * k)) & 0x3f] : '=';
        }
    }
    return text;
}

std::optional<std::string> Base64::decode(std::string_view text) {
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string bytes;
    std::uint32_t group = 0;
    int bits = 0;
    for (char c : text) {
        int value = valueOf(c);
        if (value < 0) {
            return std::nullopt;
        }
        group = (group << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((group >> bits) & 0xff));
        }
    }
    return bytes;
}

}  // namespace pindle::emulator
