// AssetWriterInputPixelBufferAdaptor: appends pictures to a video input without wrapping
// them in sample buffers. NV12, ARGB and BGRA buffers of any size are taken and scaled to
// fill the input's size, so camera frames and drawn placeholders go through one adaptor.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <memory>

#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/media/AssetWriterInput.hpp"
#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

class AssetWriterInputPixelBufferAdaptor : public Object {
  public:
    // Keys of the source attributes, which describe what the caller will append; they are
    // kept for the caller and need not match what is appended.
    static constexpr const char* pixelFormatTypeKey = "PixelFormatType";
    static constexpr const char* cgImageCompatibilityKey = "CGImageCompatibility";
    static constexpr const char* bitmapContextCompatibilityKey = "CGBitmapContextCompatibility";

    // REQUIRES: a video input.
    static std::shared_ptr<AssetWriterInputPixelBufferAdaptor> make(
        AssetWriterInputPtr input, Dictionary sourcePixelBufferAttributes = {});

    AssetWriterInputPixelBufferAdaptor(AssetWriterInputPtr input, Dictionary attributes);

    const AssetWriterInputPtr& assetWriterInput() const { return input_; }
    const Dictionary& sourcePixelBufferAttributes() const { return attributes_; }

    // As AssetWriterInput::append, for a bare picture at `presentationTime`.
    bool append(const PixelBufferPtr& pixelBuffer, MediaTime presentationTime);

  private:
    const AssetWriterInputPtr input_;
    const Dictionary attributes_;
};

}  // namespace pindle::platform
