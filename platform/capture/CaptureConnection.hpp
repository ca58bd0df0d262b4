// CaptureConnection: the link from a session's input to one output, with the video
// orientation its pictures come out in and the stabilisation asked for.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <atomic>

#include "platform/capture/CaptureHardware.hpp"

namespace pindle::platform {

class CaptureConnection {
  public:
    enum class VideoOrientation {
        portrait = 1,
        portraitUpsideDown = 2,
        landscapeRight = 3,
        landscapeLeft = 4
    };
    enum class StabilizationMode { off = 0, standard = 1, cinematic = 2, automatic = -1 };

    explicit CaptureConnection(CaptureMediaType type) : type_(type) {}
    CaptureConnection(const CaptureConnection&) = delete;
    CaptureConnection& operator=(const CaptureConnection&) = delete;

    CaptureMediaType mediaType() const { return type_; }
    bool isVideoOrientationSupported() const { return type_ == CaptureMediaType::video; }
    VideoOrientation videoOrientation() const { return orientation_.load(); }
    void setVideoOrientation(VideoOrientation orientation) { orientation_.store(orientation); }
    bool isVideoStabilizationSupported() const { return type_ == CaptureMediaType::video; }
    StabilizationMode preferredVideoStabilizationMode() const { return stabilization_.load(); }
    void setPreferredVideoStabilizationMode(StabilizationMode mode) { stabilization_.store(mode); }

  private:
    const CaptureMediaType type_;
    std::atomic<VideoOrientation> orientation_{VideoOrientation::landscapeRight};
    std::atomic<StabilizationMode> stabilization_{StabilizationMode::off};
};

}  // namespace pindle::platform
