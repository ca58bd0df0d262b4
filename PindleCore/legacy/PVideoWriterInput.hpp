// PVideoWriterInput: a ready-made video writer input: H.264 at 960x540 whatever the rectangle
// (which becomes the clean aperture), filled with aspect, 1.5 Mbit/s, a key frame every 30
// frames at most, for pictures that come in real time.
//
// Thread-safety: as AssetWriterInput.
#pragma once

#include "platform/foundation/Rect.hpp"
#include "platform/media/AssetWriterInput.hpp"

namespace pindle::legacy {

class PVideoWriterInput : public platform::AssetWriterInput {
  public:
    static constexpr int width = 960;
    static constexpr int height = 540;
    static constexpr std::int64_t averageBitRate = 1'500'000;
    static constexpr int maxKeyFrameInterval = 30;

    explicit PVideoWriterInput(const platform::ui::Rect& rect);
};

}  // namespace pindle::legacy
