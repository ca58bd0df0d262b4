// PixelBufferPool: buffers of one format and size for a stream of pictures, each reused once
// nothing but the pool holds it any more, so that a camera's thirty pictures a second do not
// each cost a new allocation, zeroed and faulted in page by page.
//
// A reused buffer still holds the picture it last carried: the caller writes every pixel it
// hands on. Buffers of another format or size are dropped when the stream changes size.
//
// Thread-safety: make() is called by one thread at a time (the stream's); the buffers it hands
// out may be held, read and released on any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

class PixelBufferPool {
  public:
    // The most buffers kept for reuse: more pictures than this in flight at once get buffers
    // of their own.
    static constexpr std::size_t maximumBuffers = 6;

    PixelBufferPool() = default;
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // A buffer of `format` and size width x height: a free one of the pool's, else a new one.
    // Null when PixelBuffer::make() gives none.
    PixelBufferPtr make(PixelBuffer::Format format, int width, int height);

  private:
    std::vector<PixelBufferPtr> buffers_;
};

}  // namespace pindle::platform
