// PNSessionState: the states of the session with the backend.
#pragma once

#include <cstdint>
#include <optional>

namespace pindle {

enum class PNSessionState : std::int64_t {
    started = 0,   // usable
    starting = 1,  // a session request is in flight
    stopped = 2,   // initial; set by stop()
    failed = 3,    // the request failed, or the session was invalidated
};

constexpr std::optional<PNSessionState> sessionStateFromRawValue(std::int64_t rawValue) {
    if (rawValue < 0 || rawValue > 3)
        return std::nullopt;
    return static_cast<PNSessionState>(rawValue);
}

}  // namespace pindle
