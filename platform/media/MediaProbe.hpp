// MediaProbe: what a media file holds, read once from its header: the duration, the first
// video track's natural size, preferred transform and nominal frame rate, the first audio
// track's format, and the container's metadata items as text.
//
// The preferred transform is the track's display rotation, rounded to a quarter turn, as an
// AffineTransform: applied to the natural size's rectangle it gives the displayed one.
//
// Thread-safety: open() may be called from any thread; a MediaProbe is a plain value.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/media/AffineTransform.hpp"
#include "platform/media/Size.hpp"

namespace pindle::platform {

class MediaProbe {
  public:
    // Reads `path`. A file that is missing or holds no media the library recognises gives
    // nothing and, when `error` is given, an error: a missing or unreadable file carries its
    // errno in the POSIX domain, anything else is MediaError::fileFormatNotRecognized.
    static std::optional<MediaProbe> open(const std::string& path, Error* error = nullptr);

    // Seconds; the container's duration, else the longest stream's.
    double duration = 0;

    bool hasVideo = false;
    Size naturalSize;                    // coded picture size of the first video track
    AffineTransform preferredTransform;  // identity when the track carries no rotation
    double nominalFrameRate = 0;         // frames per second; 0 when unknown
    std::string videoCodec;              // the library's codec name, such as "h264"

    bool hasAudio = false;
    int audioChannels = 0;
    int audioSampleRate = 0;
    std::string audioCodec;

    // The container's metadata: key (as stored, such as "creation_time",
    // "com.apple.quicktime.location.ISO6709") to value.
    std::map<std::string, std::string> metadata;

    // The displayed size: the bounding box of the natural size's rectangle under the
    // preferred transform.
    Size displaySize() const;
};

}  // namespace pindle::platform
