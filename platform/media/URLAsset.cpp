#include "platform/media/URLAsset.hpp"

namespace pindle::platform {

namespace {
bool isReadableHere(const URL& url) {
    const std::string scheme = url.scheme().value_or("");
    return scheme == "file" || scheme == "http" || scheme == "https";
}
}  // namespace

URLAssetPtr URLAsset::make(URL url) {
    return std::make_shared<URLAsset>(Private{}, std::move(url));
}

URLAsset::URLAsset(Private, URL url)
    : Asset(Private{}, url),
      resourceLoader_(std::make_shared<AssetResourceLoader>()),
      servedByLoader_(!isReadableHere(url)) {}

MediaTime URLAsset::duration() const {
    if (!servedByLoader_)
        return Asset::duration();
    std::lock_guard lock(mutex_);
    return learntDuration_;
}

std::vector<AssetTrack> URLAsset::tracks() const {
    if (!servedByLoader_)
        return Asset::tracks();
    std::lock_guard lock(mutex_);
    return learntTracks_;
}

std::optional<Error> URLAsset::loadError() const {
    return servedByLoader_ ? std::nullopt : Asset::loadError();
}

void URLAsset::noteLoaded(MediaTime duration, std::vector<AssetTrack> tracks) {
    std::lock_guard lock(mutex_);
    learntDuration_ = duration;
    learntTracks_ = std::move(tracks);
}

}  // namespace pindle::platform
