// VideoFrame: one decoded picture of a video as the decoder left it, for the screen to upload
// without converting colours on the CPU: 8-bit planar Y'CbCr 4:2:0 (a full-size luma plane
// and two half-size chroma planes), in video or full range. A frame that has no such planes
// (a picture from a source without a decoder, or a decoder's other pixel format) carries only
// a way to make its RGBA image.
//
// image() converts on first use and keeps the result, so a decoder that passes many frames on
// the way to the time asked for converts none of them, and the one shown is converted once
// however often it is drawn into snapshots.
//
// Thread-safety: immutable apart from the image made once under std::call_once; safe to share
// between threads. No callbacks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/foundation/Object.hpp"
#include "platform/media/Image.hpp"

namespace pindle::platform {

class VideoFrame;
using VideoFramePtr = std::shared_ptr<const VideoFrame>;

class VideoFrame : public Object {
  public:
    struct Plane {
        const std::uint8_t* data = nullptr;
        std::ptrdiff_t bytesPerRow = 0;
    };
    using ImageMaker = std::function<ImagePtr()>;

    // A 4:2:0 frame whose planes stay valid while `owner` lives. `makeImage` gives its RGBA
    // picture. Null when a size is not positive or a plane is missing.
    static VideoFramePtr makePlanar(int width, int height, std::array<Plane, 3> planes,
                                    bool fullRange, std::shared_ptr<const void> owner,
                                    ImageMaker makeImage);
    // A frame known only by the image `makeImage` gives (made on first use).
    static VideoFramePtr makeDeferred(int width, int height, ImageMaker makeImage);
    // A frame of an image already made; null for a null image.
    static VideoFramePtr fromImage(ImagePtr image);

    struct Private {
        explicit Private() = default;
    };
    VideoFrame(Private, int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    // True when planes() holds the Y, Cb and Cr planes.
    bool isPlanar() const { return owner_ != nullptr; }
    const std::array<Plane, 3>& planes() const { return planes_; }
    // Video range (luma 16-235) unless true.
    bool isFullRange() const { return fullRange_; }
    // The RGBA picture; null when it cannot be made.
    ImagePtr image() const;

  private:
    const int width_;
    const int height_;
    std::array<Plane, 3> planes_{};
    bool fullRange_ = false;
    std::shared_ptr<const void> owner_;
    ImageMaker makeImage_;
    mutable std::once_flag imageOnce_;
    mutable ImagePtr image_;  // written once under imageOnce_
};

}  // namespace pindle::platform
