// PixelBufferScaler: brings a stream of pictures to one size, as a writer would when it takes
// them (the middle of a picture of other proportions cut out to fill the size, bilinear), in
// their own format, into buffers it reuses. A recording that writes one picture to several
// renditions of one size scales it once here, and each writer then takes it as it is.
//
// Thread-safety: one thread at a time; the pictures it gives may be read on any.
#pragma once

#include <memory>

#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

class PixelBufferScaler {
  public:
    // The centred part of a width x height picture that, scaled, fills target exactly; its
    // corner on even coordinates so that NV12's half-size chroma stays aligned.
    struct Crop {
        int x, y, width, height;
    };
    static Crop aspectFillCrop(int width, int height, int targetWidth, int targetHeight);

    PixelBufferScaler();
    ~PixelBufferScaler();
    PixelBufferScaler(const PixelBufferScaler&) = delete;
    PixelBufferScaler& operator=(const PixelBufferScaler&) = delete;

    // `picture` at width x height: itself when it has that size, else a scaled copy. Null when
    // the picture cannot be scaled (FFmpeg missing, a size NV12 cannot have).
    PixelBufferPtr scaledToFill(const PixelBufferPtr& picture, int width, int height);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pindle::platform
