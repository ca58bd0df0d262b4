// PNPlaylistUpdateType: what a playlist tells its delegate about a change of its positions.
//
// Thread-safety: a plain value.
#pragma once

#include <cstdint>
#include <optional>

namespace pindle {

enum class PNPlaylistUpdateType : std::int64_t {
    added = 0,  // videos were added at the reported positions
    reset = 1,  // the playlist was emptied; no positions are reported
};

// The kind for raw 0 or 1; nothing for any other value.
constexpr std::optional<PNPlaylistUpdateType> playlistUpdateTypeFromRawValue(std::int64_t raw) {
    if (raw == static_cast<std::int64_t>(PNPlaylistUpdateType::added))
        return PNPlaylistUpdateType::added;
    if (raw == static_cast<std::int64_t>(PNPlaylistUpdateType::reset))
        return PNPlaylistUpdateType::reset;
    return std::nullopt;
}

constexpr std::int64_t rawValue(PNPlaylistUpdateType type) {
    return static_cast<std::int64_t>(type);
}

}  // namespace pindle
