// MD5: the MD5 digest (OpenSSL), for checksums and identifiers that must match other
// systems' MD5 text; never for security.
//
// Thread-safety: stateless; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pindle::platform {

class MD5 {
  public:
    static constexpr std::size_t digestLength = 16;
    using Digest = std::array<std::uint8_t, digestLength>;

    static Digest digest(const void* bytes, std::size_t length);
    static Digest digest(std::string_view text) { return digest(text.data(), text.size()); }
    // 32 lower-case hexadecimal digits.
    static std::string hexDigest(std::string_view text);
};

}  // namespace pindle::platform
