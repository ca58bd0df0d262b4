// PNVideoResolution: the three MP4 renditions of a video, from the highest to the lowest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::platform {
class URL;
}

namespace pindle {

enum class PNVideoResolution : std::int64_t {
    r720p = 0,
    r540p = 1,
    r360p = 2,
};

constexpr std::int64_t rawValue(PNVideoResolution resolution) {
    return static_cast<std::int64_t>(resolution);
}
// The resolution with raw value 0, 1 or 2; nothing otherwise.
std::optional<PNVideoResolution> videoResolutionFromRawValue(std::int64_t rawValue);
// "720p", "540p" or "360p".
std::string toString(PNVideoResolution resolution);
// The resolution named exactly (case-sensitive) "720p", "540p" or "360p"; nothing otherwise.
std::optional<PNVideoResolution> videoResolutionFromString(std::string_view text);
// The resolution named by a media address's last path component with every ".mp4" removed:
// ".../720p.mp4" gives r720p, ".../clip_720p.mp4" nothing.
std::optional<PNVideoResolution> videoResolutionFromURL(const platform::URL& url);

}  // namespace pindle
