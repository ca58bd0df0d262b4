#include "platform/media/AssetWriterInput.hpp"

#include "platform/media/AssetWriter.hpp"

namespace pindle::platform {

std::shared_ptr<AssetWriterInput> AssetWriterInput::make(VideoSettings settings) {
    return std::make_shared<AssetWriterInput>(std::move(settings));
}

std::shared_ptr<AssetWriterInput> AssetWriterInput::make(AudioSettings settings) {
    return std::make_shared<AssetWriterInput>(std::move(settings));
}

AssetWriterInput::AssetWriterInput(VideoSettings settings) : video_(std::move(settings)) {}

AssetWriterInput::AssetWriterInput(AudioSettings settings) : audio_(std::move(settings)) {}

std::shared_ptr<AssetWriter> AssetWriterInput::writer() const {
    std::lock_guard lock(mutex_);
    return writer_.lock();
}

bool AssetWriterInput::attach(const std::shared_ptr<AssetWriter>& writer) {
    std::lock_guard lock(mutex_);
    if (attached_)
        return false;
    attached_ = true;
    writer_ = writer;
    return true;
}

bool AssetWriterInput::isReadyForMoreMediaData() const {
    if (isFinished())
        return false;
    const auto owner = writer();
    return owner && owner->isWriting();
}

bool AssetWriterInput::append(const SampleBufferPtr& sample) {
    const auto owner = writer();
    return sample && owner && owner->appendSample(*this, *sample);
}

void AssetWriterInput::markAsFinished() {
    finished_.store(true);
}

}  // namespace pindle::platform
