#include "PindleCore/legacy/PAVHelper.hpp"

#include <cmath>

#include "platform/media/AssetImageGenerator.hpp"

namespace pindle::legacy {

namespace {

constexpr std::int32_t nanosecondTimescale = 1'000'000'000;

}  // namespace

platform::ImagePtr PAVHelper::generateThumbForAssetURL(const std::optional<platform::URL>& url) {
    return generateThumbForAssetURL(url, defaultThumbTime);
}

platform::ImagePtr PAVHelper::generateThumbForAssetURL(const std::optional<platform::URL>& url,
                                                       double seconds) {
    if (!url)
        return nullptr;
    return generateThumbForAVURLAsset(platform::URLAsset::make(*url), seconds);
}

platform::ImagePtr PAVHelper::generateThumbForAVURLAsset(
    const std::shared_ptr<platform::URLAsset>& asset, double seconds) {
    if (!asset)
        return nullptr;
    platform::AssetImageGenerator generator(asset);
    generator.setAppliesPreferredTrackTransform(true);
    return generator.copyImageAtTime(
        platform::MediaTime::makeWithSeconds(seconds, nanosecondTimescale));
}

}  // namespace pindle::legacy
