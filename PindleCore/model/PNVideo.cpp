#include "PindleCore/model/PNVideo.hpp"

#include <functional>

namespace pindle {

PNVideo::PNVideo(Private, Fields f)
    : videoID_(std::move(f.videoID)),
      mediaMP4URL360p_(std::move(f.mediaMP4URL360p)),
      mediaMP4URL540p_(std::move(f.mediaMP4URL540p)),
      mediaMP4URL720p_(std::move(f.mediaMP4URL720p)),
      mediaHLSURL_(std::move(f.mediaHLSURL)),
      shareURL_(std::move(f.shareURL)),
      location_(std::move(f.location)),
      creationDate_(f.creationDate),
      shotOn_(f.shotOn),
      modifyDate_(f.modifyDate),
      title_(std::move(f.title)),
      videoDescription_(std::move(f.videoDescription)),
      thumbnailImageURL_(std::move(f.thumbnailImageURL)),
      duration_(f.duration),
      height_(f.height),
      width_(f.width),
      state_(f.state),
      transcription_(std::move(f.transcription)),
      internalTags_(std::move(f.tags)),
      internalMetadata_(std::move(f.metadata)) {}

std::shared_ptr<PNVideo> PNVideo::make(Fields fields) {
    return std::make_shared<PNVideo>(Private{}, std::move(fields));
}

std::optional<platform::URL> PNVideo::mp4URL(PNVideoResolution resolution) const {
    std::optional<URL> found;
    switch (resolution) {
        case PNVideoResolution::r720p:
            found = mediaMP4URL720p_;
            break;
        case PNVideoResolution::r540p:
            found = mediaMP4URL540p_ ? mediaMP4URL540p_ : mediaMP4URL720p_;
            break;
        case PNVideoResolution::r360p:
            found = mediaMP4URL360p_   ? mediaMP4URL360p_
                    : mediaMP4URL540p_ ? mediaMP4URL540p_
                                       : mediaMP4URL720p_;
            break;
    }
    return found ? found : mediaMP4URL720p_;
}

std::size_t PNVideo::hash() const {
    return std::hash<std::string>{}(videoID_);
}

}  // namespace pindle
