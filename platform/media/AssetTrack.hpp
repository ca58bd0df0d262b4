// AssetTrack: what an asset knows about one of its tracks (one stream of the media file).
//
// Thread-safety: a plain value.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Size.hpp"
#include "platform/media/AffineTransform.hpp"

namespace pindle::platform {

enum class MediaType { video, audio, other };

struct AssetTrack {
    // Unique within the asset, starting at 1.
    std::int32_t trackID = 0;
    MediaType mediaType = MediaType::other;
    // The stored frame size of a video track (0 by 0 for other tracks).
    Size naturalSize;
    // How the stored frames are to be turned for display (identity for other tracks).
    AffineTransform preferredTransform;
    // Frames per second as the file declares them; 0 when unknown or not a video track.
    double nominalFrameRate = 0;
    // Invalid when the file does not say.
    MediaTime duration;
    // The library's name of the codec, such as "h264" or "aac".
    std::string codecName;
    // Audio tracks only; 0 otherwise.
    int audioChannelCount = 0;
    int audioSampleRate = 0;

    // The size of the picture as displayed: the natural size turned by the preferred
    // transform.
    Size displaySize() const { return preferredTransform.boundingSize(naturalSize); }
};

}  // namespace pindle::platform
