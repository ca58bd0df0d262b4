#include "tools/emulator/Tokens.hpp"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace pindle::emulator {

namespace {

std::string hex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

std::string uuidFrom(std::array<std::uint8_t, 16> bytes) {
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    auto text = hex(bytes.data(), bytes.size());
    return text.substr(0, 8) + "-" + text.substr(8, 4) + "-" + text.substr(12, 4) + "-" +
           text.substr(16, 4) + "-" + text.substr(20);
}

template <std::size_t N>
std::array<std::uint8_t, N> randomBytes() {
    std::array<std::uint8_t, N> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(N)) != 1) {
        throw std::runtime_error("no random bytes available");
    }
    return bytes;
}

}  // namespace

std::string Tokens::randomUUID() {
    return uuidFrom(randomBytes<16>());
}

std::string Tokens::randomToken() {
    auto bytes = randomBytes<32>();
    return hex(bytes.data(), bytes.size());
}

std::string Tokens::stableUUID(std::string_view name) {
    std::array<std::uint8_t, 16> bytes{};
    // splitmix64's finalizer spreads the close hashes of similar names over all bits.
    auto mix = [](std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    };
    std::uint64_t first = mix(hash(name));
    std::uint64_t second = mix(hash(std::string(name) + "#"));
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first >> (8 * i));
        bytes[8 + i] = static_cast<std::uint8_t>(second >> (8 * i));
    }
    return uuidFrom(bytes);
}

std::uint64_t Tokens::hash(std::string_view text) {
    constexpr std::uint64_t offsetBasis = 14695981039346656037ull;
    constexpr std::uint64_t prime = 1099511628211ull;
    std::uint64_t value = offsetBasis;
    for (char c : text) {
        value ^= static_cast<std::uint8_t>(c);
        value *= prime;
    }
    return value;
}

}  // namespace pindle::emulator
