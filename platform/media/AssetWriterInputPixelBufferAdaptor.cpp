#include "platform/media/AssetWriterInputPixelBufferAdaptor.hpp"

#include "platform/media/AssetWriter.hpp"

namespace pindle::platform {

std::shared_ptr<AssetWriterInputPixelBufferAdaptor> AssetWriterInputPixelBufferAdaptor::make(
    AssetWriterInputPtr input, Dictionary sourcePixelBufferAttributes) {
    return std::make_shared<AssetWriterInputPixelBufferAdaptor>(
        std::move(input), std::move(sourcePixelBufferAttributes));
}

AssetWriterInputPixelBufferAdaptor::AssetWriterInputPixelBufferAdaptor(AssetWriterInputPtr input,
                                                                       Dictionary attributes)
    : input_(std::move(input)), attributes_(std::move(attributes)) {}

bool AssetWriterInputPixelBufferAdaptor::append(const PixelBufferPtr& pixelBuffer,
                                                MediaTime presentationTime) {
    const auto owner = input_ ? input_->writer() : nullptr;
    return pixelBuffer && owner && owner->appendPicture(*input_, *pixelBuffer, presentationTime);
}

}  // namespace pindle::platform
