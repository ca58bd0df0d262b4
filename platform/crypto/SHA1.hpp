// SHA1: the SHA-1 digest, for protocols that still name it (the WebSocket handshake's accept
// value). Not for anything that needs collision resistance.
//
// Thread-safety: stateless; call from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pindle::platform {

class SHA1 {
  public:
    static constexpr std::size_t digestLength = 20;
    using Digest = std::array<std::uint8_t, digestLength>;

    static Digest digest(const void* bytes, std::size_t length);
    // The digest of the text's bytes as given (UTF-8 for our strings).
    static Digest digest(std::string_view text) { return digest(text.data(), text.size()); }
};

}  // namespace pindle::platform
