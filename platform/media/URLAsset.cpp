#include "platform/media/URLAsset.hpp"

#include <algorithm>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

URLAssetPtr URLAsset::make(URL url) {
    return std::make_shared<URLAsset>(Private{}, std::move(url));
}

namespace {
bool isReadableHere(const URL& url) {
    const std::string scheme = url.scheme().value_or("");
    return scheme == "file" || scheme == "http" || scheme == "https";
}
}  // namespace

URLAsset::URLAsset(Private, URL url)
    : url_(std::move(url)),
      resourceLoader_(std::make_shared<AssetResourceLoader>()),
      servedByLoader_(!isReadableHere(url_)) {
    learnt_.error = MediaError::make(MediaError::operationNotSupportedForAsset,
                                     "Only a player item reads " + url_.absoluteString());
}

Asset::Properties URLAsset::properties() const {
    if (servedByLoader_) {
        std::lock_guard lock(mutex_);
        return learnt_;
    }
    std::call_once(loadOnce_, [this] { loaded_ = readHeader(); });
    return loaded_;
}

void URLAsset::noteLoaded(MediaTime duration, std::vector<AssetTrack> tracks) {
    std::lock_guard lock(mutex_);
    learnt_.duration = duration;
    learnt_.tracks = std::move(tracks);
    learnt_.error.reset();
}

Asset::Properties URLAsset::readHeader() const {
    Properties properties;
    Error error;
    const auto input = ffmpeg::Input::open(ffmpeg::Source::fromURL(url_), &error);
    if (!input) {
        properties.error = error;
        return properties;
    }
    const AVFormatContext& context = *input->context();
    MediaTime longestTrack = MediaTime::invalid();
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        properties.tracks.push_back(ffmpeg::describeTrack(*context.streams[i]));
        longestTrack = std::max(longestTrack, properties.tracks.back().duration);
    }
    properties.duration = context.duration != AV_NOPTS_VALUE
                              ? ffmpeg::fromTimeBase(context.duration, AV_TIME_BASE_Q)
                              : longestTrack;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(context.metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        properties.metadata.push_back(MetadataItem{entry->key, entry->value});
    return properties;
}

std::string URLAsset::description() const {
    return "<URLAsset " + url_.absoluteString() + ">";
}

}  // namespace pindle::platform
