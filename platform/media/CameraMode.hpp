// CameraMode: one way a camera can stream (pixel format, picture size, frame rate), and the
// choice of the mode that serves a wanted picture size best.
//
// Thread-safety: a plain value type and a pure function.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pindle::platform {

struct CameraMode {
    // The four-character code of the camera's pixel format ("YUYV", "MJPG", "NV12", ...).
    std::string pixelFormat;
    int width = 0;
    int height = 0;
    // Frames per second; 0 when the camera does not say.
    double framesPerSecond = 0;

    bool operator==(const CameraMode&) const = default;
    std::string description() const;

    // The mode to stream for pictures of `width` x `height`: that size when offered, else the
    // smallest mode larger in both directions (scaled down), else the largest (scaled up).
    // Among modes of one size, the frame rate nearest 30 (at least 30 preferred), then a
    // pixel format that needs no decoding. Modes in formats the platform cannot convert are
    // never chosen. Nothing, with `why`, when no mode is left.
    static std::optional<CameraMode> choose(const std::vector<CameraMode>& offered, int width,
                                            int height, std::string* why = nullptr);
    // Whether the platform converts pictures of this pixel format.
    static bool isConvertible(const std::string& pixelFormat);
};

}  // namespace pindle::platform
