#include "platform/media/PixelBufferPool.hpp"

#include <algorithm>

namespace pindle::platform {

namespace {

// Whether nothing but the pool holds `buffer`: no holder can read it while it is written
// again, and none can come, as only the pool hands it out. The copy made and dropped here
// changes the holders' count with acquire and release, so whatever the last holder did with
// the buffer happens before this returns.
bool isFree(const PixelBufferPtr& buffer) {
    const PixelBufferPtr probe = buffer;
    return probe.use_count() == 2;
}

}  // namespace

PixelBufferPtr PixelBufferPool::make(PixelBuffer::Format format, int width, int height) {
    std::erase_if(buffers_, [&](const PixelBufferPtr& buffer) {
        return buffer->format() != format || buffer->width() != width || buffer->height() != height;
    });
    const auto free = std::find_if(buffers_.begin(), buffers_.end(), isFree);
    if (free != buffers_.end())
        return *free;
    PixelBufferPtr buffer = PixelBuffer::make(format, width, height);
    if (buffer && buffers_.size() < maximumBuffers)
        buffers_.push_back(buffer);
    return buffer;
}

}  // namespace pindle::platform
