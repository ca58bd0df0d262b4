#include "platform/media/SampleBuffer.hpp"

namespace pindle::platform {

SampleBufferPtr SampleBuffer::makeVideo(PixelBufferPtr image, MediaTime presentationTime) {
    if (!image)
        return nullptr;
    return std::make_shared<SampleBuffer>(Private{}, presentationTime, std::move(image),
                                          std::nullopt, std::vector<std::int16_t>{});
}

SampleBufferPtr SampleBuffer::makeAudio(AudioFormat format, std::vector<std::int16_t> samples,
                                        MediaTime presentationTime) {
    if (format.channels <= 0 || format.sampleRate <= 0 ||
        samples.size() % static_cast<std::size_t>(format.channels) != 0)
        return nullptr;
    return std::make_shared<SampleBuffer>(Private{}, presentationTime, nullptr, format,
                                          std::move(samples));
}

SampleBuffer::SampleBuffer(Private, MediaTime presentationTime, PixelBufferPtr image,
                           std::optional<AudioFormat> format, std::vector<std::int16_t> samples)
    : presentationTime_(presentationTime),
      image_(std::move(image)),
      format_(format),
      samples_(std::move(samples)) {}

MediaTime SampleBuffer::duration() const {
    if (!format_)
        return MediaTime::invalid();
    return MediaTime(static_cast<std::int64_t>(numSamples()), format_->sampleRate);
}

std::size_t SampleBuffer::numSamples() const {
    return format_ ? samples_.size() / static_cast<std::size_t>(format_->channels) : 1;
}

SampleBufferPtr SampleBuffer::copyWithPresentationTime(MediaTime presentationTime) const {
    return std::make_shared<SampleBuffer>(Private{}, presentationTime, image_, format_, samples_);
}

}  // namespace pindle::platform
