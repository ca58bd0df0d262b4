// PNPlayerStoryboard: the player library's resource bundle "local.pindle.PindlePlayer"
// (compiled in from PindlePlayer/resources/local.pindle.PindlePlayer: the panel's texts) and
// its storyboard "PindlePlayer", whose scenes are built in code: "controlView" (the control
// panel, outlets and actions connected) and "volumeIndicator" (the volume bar). Both are
// registered when the library loads; bundle() registers them first if that has not run.
//
// Thread-safety: safe from any thread. No callbacks.
#pragma once

#include "platform/files/ResourceBundle.hpp"

namespace pindle {

class PNPlayerStoryboard {
  public:
    static constexpr const char* bundleIdentifier = "local.pindle.PindlePlayer";
    static constexpr const char* storyboardName = "PindlePlayer";
    static constexpr const char* controlViewScene = "controlView";
    static constexpr const char* volumeIndicatorScene = "volumeIndicator";

    PNPlayerStoryboard() = delete;

    // The registered bundle.
    static platform::ResourceBundlePtr bundle();
};

}  // namespace pindle
