#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pindle::emulator {

// Standard Base64 (RFC 4648 alphabet with "+" and "/", "=" padding), in which list queries
// carry their JSON-encoded tags, metadata and identifiers.
// Thread-safety: stateless.
struct Base64 {
    static std::string encode(std::string_view bytes);
    // The decoded bytes, or nothing for text outside the alphabet. Padding may be omitted.
    static std::optional<std::string> decode(std::string_view text);
};

}  // namespace pindle::emulator
