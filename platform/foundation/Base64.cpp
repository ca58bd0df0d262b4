#include "platform/foundation/Base64.hpp"

#include <array>

namespace pindle::platform {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int notInAlphabet = -1;

constexpr std::array<int, 256> makeDecodingTable() {
    std::array<int, 256> table{};
    for (int& entry : table) entry = notInAlphabet;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

constexpr std::array<int, 256> decodingTable = makeDecodingTable();

std::string encodeBytes(const std::uint8_t* bytes, std::size_t size) {
    std::string result;
    result.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        result += alphabet[(group >> 18) & 63];
        result += alphabet[(group >> 12) & 63];
        result += alphabet[(group >> 6) & 63];
        result += alphabet[group & 63];
    }
    if (size - i == 1) {
        const std::uint32_t group = bytes[i] << 16;
        result += alphabet[(group >> 18) & 63];
        result += alphabet[(group >> 12) & 63];
        result += "==";
    } else if (size - i == 2) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8);
        result += alphabet[(group >> 18) & 63];
        result += alphabet[(group >> 12) & 63];
        result += alphabet[(group >> 6) & 63];
        result += '=';
    }
    return result;
}

}  // namespace

std::string Base64::encode(const Data& data) {
    return encodeBytes(data.data(), data.size());
}

std::string Base64::encode(std::string_view bytes) {
    return encodeBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<Data> Base64::decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    Data result;
    result.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool lastGroup = i + 4 == text.size();
        int padding = 0;
        if (lastGroup && text[i + 3] == '=')
            padding = text[i + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (int k = 0; k < 4 - padding; ++k) {
            const int sextet = decodingTable[static_cast<unsigned char>(text[i + k])];
            if (sextet == notInAlphabet)
                return std::nullopt;
            group |= static_cast<std::uint32_t>(sextet) << (18 - 6 * k);
        }
        // Canonical encodings leave the bits beyond the last byte zero.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            return std::nullopt;
        }
        result.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2)
            result.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1)
            result.push_back(static_cast<std::uint8_t>(group));
    }
    return result;
}

}  // namespace pindle::platform
