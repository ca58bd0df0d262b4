// PNVideoState: the backend's processing state of a video, with its wire text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pindle {

enum class PNVideoState : std::int64_t {
    unknown = 0,
    processing = 1,
    processed = 2,
    failed = 3,
    all = 4,
};

// "unknown", "processing", "processed", "failed" or "all".
std::string_view rawValue(PNVideoState state);
// The state whose text equals `text` exactly (case-sensitive); nothing otherwise.
std::optional<PNVideoState> videoStateFromRawValue(std::string_view text);

}  // namespace pindle
