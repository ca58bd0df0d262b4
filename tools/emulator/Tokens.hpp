#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pindle::emulator {

// Identifiers the backend hands out: random UUIDs for new videos, random session tokens,
// and stable UUID-shaped identifiers derived from a name for the sample videos.
// Thread-safety: stateless; safe from any thread.
struct Tokens {
    // A random version-4 UUID in lower case.
    static std::string randomUUID();
    // 32 random bytes as 64 lower-case hexadecimal digits.
    static std::string randomToken();
    // A UUID-shaped identifier that is always the same for the same name.
    static std::string stableUUID(std::string_view name);
    // 64-bit FNV-1a: the seed of all deterministic generated data.
    static std::uint64_t hash(std::string_view text);
};

}  // namespace pindle::emulator
