#include "tests/support/MediaSummary.hpp"

#include "platform/foundation/MediaError.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::platform::testing {

std::optional<MediaSummary> MediaSummary::read(const std::string& path, Error* error) {
    const auto asset = URLAsset::make(URL::fileURLWithPath(path));
    if (auto loadError = asset->loadError()) {
        if (error)
            *error = *loadError;
        return std::nullopt;
    }
    MediaSummary summary;
    const auto video = asset->tracksWithMediaType(MediaType::video);
    const auto audio = asset->tracksWithMediaType(MediaType::audio);
    if (video.empty() && audio.empty()) {
        if (error)
            *error = MediaError::make(MediaError::fileFormatNotRecognized,
                                      "No audio or video in " + path);
        return std::nullopt;
    }
    summary.duration = asset->duration().seconds();
    if (!video.empty()) {
        summary.hasVideo = true;
        summary.naturalSize = video.front().naturalSize;
        summary.preferredTransform = video.front().preferredTransform;
        summary.nominalFrameRate = video.front().nominalFrameRate;
        summary.videoCodec = video.front().codecName;
    }
    if (!audio.empty()) {
        summary.hasAudio = true;
        summary.audioChannels = audio.front().audioChannelCount;
        summary.audioSampleRate = audio.front().audioSampleRate;
        summary.audioCodec = audio.front().codecName;
    }
    for (const auto& item : asset->metadata()) summary.metadata.emplace(item.key, item.value);
    return summary;
}

}  // namespace pindle::platform::testing
