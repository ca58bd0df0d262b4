// MediaSummary: what a test checks of a written movie, in one flat value read through
// URLAsset: whether it has video and audio, the first video track's size, transform, rate
// and codec, the first audio track's format, the duration in seconds and the container's
// metadata by key.
//
// Thread-safety: a plain value; read() may be called from any thread. No callbacks.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Size.hpp"
#include "platform/media/AffineTransform.hpp"

namespace pindle::platform::testing {

struct MediaSummary {
    // Nothing, with the asset's load error, when `path` cannot be read; nothing with
    // MediaError::fileFormatNotRecognized when it holds neither audio nor video.
    static std::optional<MediaSummary> read(const std::string& path, Error* error = nullptr);

    double duration = 0;

    bool hasVideo = false;
    Size naturalSize;
    AffineTransform preferredTransform;
    double nominalFrameRate = 0;
    std::string videoCodec;

    bool hasAudio = false;
    int audioChannels = 0;
    int audioSampleRate = 0;
    std::string audioCodec;

    std::map<std::string, std::string> metadata;

    Size displaySize() const { return preferredTransform.boundingSize(naturalSize); }
};

}  // namespace pindle::platform::testing
