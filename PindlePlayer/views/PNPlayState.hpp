// PNPlayState: the play state of a player, as the player views and the player view
// controller report it. Raw values are part of the public interface.
//
// Thread-safety: a plain value.
#pragma once

#include <optional>

namespace pindle {

enum class PNPlayState : int {
    idle = 0,     // no player, or the player is not ready to play
    paused = 1,   // ready, rate 0
    playing = 2,  // ready, rate not 0
};

// The state of raw value `raw`; nothing outside 0 to 2.
constexpr std::optional<PNPlayState> playStateFromRawValue(int raw) {
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return static_cast<PNPlayState>(raw);
}

}  // namespace pindle
