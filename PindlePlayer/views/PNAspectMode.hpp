// PNAspectMode: how a video (and its thumbnail) is fitted into its view. Raw values are part
// of the public interface; the default of every player view and controller is aspectFill.
//
// Thread-safety: a plain value.
#pragma once

#include <optional>

namespace pindle {

enum class PNAspectMode : int {
    aspectFit = 0,   // whole picture visible, letterboxed
    aspectFill = 1,  // view filled, picture cropped
    stretch = 2,     // picture stretched to the view
};

// The mode of raw value `raw`; nothing outside 0 to 2.
constexpr std::optional<PNAspectMode> aspectModeFromRawValue(int raw) {
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return static_cast<PNAspectMode>(raw);
}

}  // namespace pindle
