#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

namespace {

// Rows start on this boundary, as the platform's buffers do, so code that assumes tight
// rows shows up in tests.
constexpr std::ptrdiff_t rowAlignment = 64;
constexpr int largestSide = 16384;

std::ptrdiff_t aligned(std::ptrdiff_t bytes) {
    return (bytes + rowAlignment - 1) / rowAlignment * rowAlignment;
}

}  // namespace

PixelBufferPtr PixelBuffer::make(Format format, int width, int height) {
    if (width <= 0 || height <= 0 || width > largestSide || height > largestSide)
        return nullptr;
    if (format == Format::nv12 && (width % 2 != 0 || height % 2 != 0))
        return nullptr;
    return std::make_shared<PixelBuffer>(Private{}, format, width, height);
}

PixelBuffer::PixelBuffer(Private, Format format, int width, int height)
    : format_(format), width_(width), height_(height) {
    std::size_t total = 0;
    for (std::size_t plane = 0; plane < planeCount(); ++plane) {
        const int bytesPerPixel = format == Format::nv12 ? (plane == 0 ? 1 : 2) : 4;
        bytesPerRow_[plane] =
            aligned(static_cast<std::ptrdiff_t>(planeWidth(plane)) * bytesPerPixel);
        planeOffset_[plane] = total;
        total += static_cast<std::size_t>(bytesPerRow_[plane]) *
                 static_cast<std::size_t>(planeHeight(plane));
    }
    bytes_.assign(total, 0);
}

int PixelBuffer::planeWidth(std::size_t plane) const {
    return plane == 0 ? width_ : width_ / 2;
}

int PixelBuffer::planeHeight(std::size_t plane) const {
    return plane == 0 ? height_ : height_ / 2;
}

std::ptrdiff_t PixelBuffer::bytesPerRow(std::size_t plane) const {
    return plane < planeCount() ? bytesPerRow_[plane] : 0;
}

std::uint8_t* PixelBuffer::baseAddress(std::size_t plane) {
    return plane < planeCount() ? bytes_.data() + planeOffset_[plane] : nullptr;
}

const std::uint8_t* PixelBuffer::baseAddress(std::size_t plane) const {
    return plane < planeCount() ? bytes_.data() + planeOffset_[plane] : nullptr;
}

PixelBufferPtr PixelBuffer::copy() const {
    auto other = std::make_shared<PixelBuffer>(Private{}, format_, width_, height_);
    other->bytes_ = bytes_;
    return other;
}

}  // namespace pindle::platform
