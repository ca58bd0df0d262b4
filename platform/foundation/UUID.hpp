// UUID: a 128-bit universally unique identifier.
//
// Text form is the platform's: upper-case hexadecimal in 8-4-4-4-12 groups
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"); parsing accepts either case.
//
// Thread-safety: a plain value type; random() may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::platform {

class UUID {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The nil UUID (all zeros).
    UUID() = default;
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A new random (version 4) UUID.
    static UUID random();
    // The UUID of 8-4-4-4-12 hexadecimal text, or nothing.
    static std::optional<UUID> fromString(std::string_view text);

    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }

    auto operator<=>(const UUID&) const = default;

  private:
    Bytes bytes_{};
};

}  // namespace pindle::platform

template <>
struct std::hash<pindle::platform::UUID> {
    std::size_t operator()(const pindle::platform::UUID& uuid) const noexcept {
        std::size_t h = 0;
        for (std::uint8_t b : uuid.bytes()) h = h * 131 + b;
        return h;
    }
};
