// PixelBuffer: a picture in memory in one of the formats cameras and drawing use: NV12
// (video-range luma plane, then a half-size plane of interleaved Cb/Cr), 32-bit ARGB or BGRA
// (one plane, 4 bytes a pixel, in that byte order). Rows may be padded: always step by
// bytesPerRow(plane).
//
// The memory is allocated zeroed at creation and stays valid for the buffer's life, so
// lockBaseAddress/unlockBaseAddress only keep the platform's calling shape; they do not
// synchronise. A buffer handed from one queue to another is safe to read there; two threads
// writing at once need their own ordering.
//
// Thread-safety: the size, format and strides are immutable; the contents are not guarded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/Object.hpp"

namespace pindle::platform {

class PixelBuffer;
using PixelBufferPtr = std::shared_ptr<PixelBuffer>;

class PixelBuffer : public Object {
  public:
    // The platform's four-character codes.
    enum class Format : std::uint32_t {
        nv12 = 0x34323076,  // '420v'
        argb = 0x00000020,  // 32
        bgra = 0x42475241,  // 'BGRA'
    };

    // Null when the size is not positive, too large, or odd for NV12.
    static PixelBufferPtr make(Format format, int width, int height);

    struct Private {
        explicit Private() = default;
    };
    PixelBuffer(Private, Format format, int width, int height);

    Format format() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t planeCount() const { return format_ == Format::nv12 ? 2 : 1; }
    int planeWidth(std::size_t plane) const;
    int planeHeight(std::size_t plane) const;
    std::ptrdiff_t bytesPerRow(std::size_t plane = 0) const;
    std::uint8_t* baseAddress(std::size_t plane = 0);
    const std::uint8_t* baseAddress(std::size_t plane = 0) const;

    void lockBaseAddress() const {}
    void unlockBaseAddress() const {}

    // A new buffer with the same format, size and contents.
    PixelBufferPtr copy() const;

  private:
    const Format format_;
    const int width_;
    const int height_;
    std::vector<std::uint8_t> bytes_;
    std::size_t planeOffset_[2] = {0, 0};
    std::ptrdiff_t bytesPerRow_[2] = {0, 0};
};

}  // namespace pindle::platform
