#include "platform/photos/ImageManager.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/media/Composition.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::platform {

ImageManager& ImageManager::defaultManager() {
    static auto* manager = new ImageManager();
    return *manager;
}

void ImageManager::requestAVAssetForVideo(const PhotoAssetPtr& asset, VideoVersion,
                                          std::function<void(AssetPtr)> handler) const {
    DispatchQueue::global()->async([asset, handler = std::move(handler)] {
        AssetPtr answer;
        if (asset && asset->mediaType() == PhotoAsset::MediaType::video) {
            if (asset->isComposition())
                answer = Composition::make();
            else
                answer = URLAsset::make(URL::fileURLWithPath(asset->path()));
        }
        handler(std::move(answer));
    });
}

void ImageManager::requestImage(const PhotoAssetPtr& asset,
                                std::function<void(ImagePtr)> handler) const {
    DispatchQueue::global()->async([asset, handler = std::move(handler)] {
        ImagePtr answer;
        if (asset && asset->mediaType() == PhotoAsset::MediaType::image) {
            if (auto bytes = FileManager::defaultManager().contentsOfFile(asset->path()))
                answer = Image::fromData(*bytes);
        }
        handler(std::move(answer));
    });
}

}  // namespace pindle::platform
