// The backend's date text, "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'": always UTC, Gregorian, ASCII
// digits, whatever the process locale or time zone.
//
// Thread-safety: conversions share one immutable formatter; call from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Date.hpp"

namespace pindle {

// The date the text denotes; nothing when the text is not in the backend format.
std::optional<platform::Date> parseDate(std::string_view text);
// The date in the backend format, e.g. "2019-03-01T10:20:30.456Z".
std::string toString(platform::Date date);

}  // namespace pindle
