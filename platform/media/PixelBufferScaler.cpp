#include "platform/media/PixelBufferScaler.hpp"

#include <algorithm>
#include <cmath>

#include "platform/media/PixelBufferPool.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

struct PixelBufferScaler::State {
    ffmpeg::ScalePtr scaler;
    PixelBufferPool pool;
};

PixelBufferScaler::Crop PixelBufferScaler::aspectFillCrop(int width, int height, int targetWidth,
                                                          int targetHeight) {
    const double scale = std::max(static_cast<double>(targetWidth) / width,
                                  static_cast<double>(targetHeight) / height);
    const int cropWidth = std::clamp(static_cast<int>(std::lround(targetWidth / scale)), 1, width);
    const int cropHeight =
        std::clamp(static_cast<int>(std::lround(targetHeight / scale)), 1, height);
    return Crop{((width - cropWidth) / 2) & ~1, ((height - cropHeight) / 2) & ~1, cropWidth,
                cropHeight};
}

PixelBufferScaler::PixelBufferScaler() : state_(std::make_unique<State>()) {}

PixelBufferScaler::~PixelBufferScaler() = default;

PixelBufferPtr PixelBufferScaler::scaledToFill(const PixelBufferPtr& picture, int width,
                                               int height) {
    if (!picture)
        return nullptr;
    if (picture->width() == width && picture->height() == height)
        return picture;
    if (!ffmpeg::loadLibrary())
        return nullptr;
    auto scaled = state_->pool.make(picture->format(), width, height);
    if (!scaled)
        return nullptr;
    const Crop crop = aspectFillCrop(picture->width(), picture->height(), width, height);
    const bool nv12 = picture->format() == PixelBuffer::Format::nv12;
    const std::ptrdiff_t bytesPerPixel = nv12 ? 1 : 4;
    const std::uint8_t* from[4] = {
        picture->baseAddress(0) + crop.y * picture->bytesPerRow(0) + crop.x * bytesPerPixel,
        nv12 ? picture->baseAddress(1) + (crop.y / 2) * picture->bytesPerRow(1) + crop.x : nullptr,
        nullptr, nullptr};
    const int fromStrides[4] = {static_cast<int>(picture->bytesPerRow(0)),
                                nv12 ? static_cast<int>(picture->bytesPerRow(1)) : 0, 0, 0};
    std::uint8_t* to[4] = {scaled->baseAddress(0), nv12 ? scaled->baseAddress(1) : nullptr, nullptr,
                           nullptr};
    const int toStrides[4] = {static_cast<int>(scaled->bytesPerRow(0)),
                              nv12 ? static_cast<int>(scaled->bytesPerRow(1)) : 0, 0, 0};
    const AVPixelFormat format = ffmpeg::pixelFormatOf(picture->format());
    state_->scaler.reset(sws_getCachedContext(state_->scaler.release(), crop.width, crop.height,
                                              format, width, height, format, SWS_BILINEAR, nullptr,
                                              nullptr, nullptr));
    if (!state_->scaler ||
        sws_scale(state_->scaler.get(), from, fromStrides, 0, crop.height, to, toStrides) <= 0)
        return nullptr;
    return scaled;
}

}  // namespace pindle::platform
