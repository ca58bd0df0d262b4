#include "platform/media/Asset.hpp"

namespace pindle::platform {

MediaTime Asset::duration() const {
    return properties().duration;
}

std::vector<AssetTrack> Asset::tracks() const {
    return properties().tracks;
}

std::vector<AssetTrack> Asset::tracksWithMediaType(MediaType type) const {
    std::vector<AssetTrack> matching;
    for (auto& track : properties().tracks)
        if (track.mediaType == type)
            matching.push_back(std::move(track));
    return matching;
}

std::vector<Asset::MetadataItem> Asset::metadata() const {
    return properties().metadata;
}

std::optional<Error> Asset::loadError() const {
    return properties().error;
}

}  // namespace pindle::platform
