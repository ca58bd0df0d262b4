#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::emulator {

// The backend's date text, "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC, and its conversion to
// and from milliseconds since 1970. The emulator keeps every date as such milliseconds.
// Thread-safety: stateless.
struct BackendDate {
    static std::string format(std::int64_t millis);
    // The instant the text names, or nothing unless the text has exactly the backend form.
    static std::optional<std::int64_t> parse(std::string_view text);
    // Milliseconds since 1970 on the system clock.
    static std::int64_t nowMillis();
};

}  // namespace pindle::emulator
