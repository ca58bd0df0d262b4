#include "platform/photos/AssetChangeRequest.hpp"

#include "platform/photos/PhotoLibrary.hpp"

namespace pindle::platform {
namespace {

AssetChangeRequestPtr request(PhotoAsset::MediaType type, const URL& fileURL) {
    auto made = std::make_shared<AssetChangeRequest>(type, fileURL);
    if (auto* changes = PhotoLibrary::currentChangeList())
        changes->push_back(made);
    return made;
}

}  // namespace

AssetChangeRequestPtr AssetChangeRequest::creationRequestForAssetFromVideo(const URL& fileURL) {
    return request(PhotoAsset::MediaType::video, fileURL);
}

AssetChangeRequestPtr AssetChangeRequest::creationRequestForAssetFromImage(const URL& fileURL) {
    return request(PhotoAsset::MediaType::image, fileURL);
}

}  // namespace pindle::platform
