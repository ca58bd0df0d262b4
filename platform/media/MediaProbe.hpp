// MediaProbe: what a media file holds, read once from its header: the duration, the first
// video track's natural size, preferred transform and nominal frame rate, the first audio
// track's format, and the container's metadata items as text.
//
// The preferred transform is the track's display rotation as the platform's 2x3 affine
// matrix [a b; c d; tx ty] in screen coordinates (y down): a clockwise quarter turn is
// a=0 b=1 c=-1 d=0 with the translation that brings the turned picture back to the origin,
// so applying it to the natural size's rectangle gives the displayed rectangle.
//
// Thread-safety: open() may be called from any thread; a MediaProbe is a plain value.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class MediaProbe {
  public:
    struct Size {
        double width = 0;
        double height = 0;
        bool operator==(const Size&) const = default;
    };

    struct AffineTransform {
        double a = 1;
        double b = 0;
        double c = 0;
        double d = 1;
        double tx = 0;
        double ty = 0;

        // A clockwise turn by `degrees` (a multiple of 90) of a picture of `size`, moved back
        // to the origin.
        static AffineTransform rotation(int degrees, Size size);
        // The clockwise angle in degrees, atan2(b, a).
        double angleDegrees() const;
        // The size of the bounding box of the rectangle (0, 0, size) under this transform.
        Size applyToSize(Size size) const;
        bool operator==(const AffineTransform&) const = default;
    };

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

    // The displayed size: the natural size under the preferred transform.
    Size displaySize() const { return preferredTransform.applyToSize(naturalSize); }
};

}  // namespace pindle::platform
