// CaptureVideoDataOutput: delivers the camera's pictures as sample buffers, in the pixel
// format asked for (NV12 '420v' by default, or BGRA), turned as the connection's video
// orientation says.
//
// With always-discards-late-video-frames on (the default) a picture that comes while the
// delegate still has the previous one is dropped; off, up to a second of pictures may wait
// for the delegate before any is dropped (see CaptureDataOutput).
//
// Thread-safety: as CaptureDataOutput; the delegate runs on its queue.
#pragma once

#include <atomic>

#include "platform/capture/CaptureOutput.hpp"
#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

class CaptureVideoDataOutput : public CaptureDataOutput {
  public:
    static constexpr std::size_t maxPicturesInFlight = 30;

    static std::shared_ptr<CaptureVideoDataOutput> make() {
        return std::make_shared<CaptureVideoDataOutput>();
    }
    CaptureVideoDataOutput() : CaptureDataOutput(CaptureMediaType::video, maxPicturesInFlight) {}

    PixelBuffer::Format pixelFormat() const { return format_.load(); }
    // NV12 or BGRA; ARGB is taken as BGRA.
    void setPixelFormat(PixelBuffer::Format format) {
        format_.store(format == PixelBuffer::Format::nv12 ? format : PixelBuffer::Format::bgra);
    }
    bool alwaysDiscardsLateVideoFrames() const { return discards_.load(); }
    void setAlwaysDiscardsLateVideoFrames(bool discards) { discards_.store(discards); }
    std::size_t samplesInFlightLimit() const override {
        return alwaysDiscardsLateVideoFrames() ? 1 : CaptureDataOutput::samplesInFlightLimit();
    }

  private:
    std::atomic<PixelBuffer::Format> format_{PixelBuffer::Format::nv12};
    std::atomic<bool> discards_{true};
};

}  // namespace pindle::platform
