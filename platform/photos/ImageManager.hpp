// ImageManager: hands out the media of photo-library assets: a video as a URLAsset of its
// stored file, or as a Composition when the library keeps it as an edit; a picture as an
// Image.
//
// Thread-safety: all operations are safe from any thread. Handlers run on a global queue.
#pragma once

#include <functional>

#include "platform/media/Asset.hpp"
#include "platform/media/Image.hpp"
#include "platform/photos/PhotoAsset.hpp"

namespace pindle::platform {

class ImageManager {
  public:
    // Which version of an edited video to give; both give what the library holds.
    enum class VideoVersion { current = 0, original = 1 };

    static ImageManager& defaultManager();

    // Null (and an unreadable asset gives null) for an asset that is not a video.
    void requestAVAssetForVideo(const PhotoAssetPtr& asset, VideoVersion version,
                                std::function<void(AssetPtr)> handler) const;
    void requestImage(const PhotoAssetPtr& asset, std::function<void(ImagePtr)> handler) const;

  private:
    ImageManager() = default;
};

}  // namespace pindle::platform
