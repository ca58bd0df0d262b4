// AssetChangeRequest: a change to the photo library, made inside the change block of
// PhotoLibrary::performChanges and carried out when the block returns. A request made
// outside a change block is carried out never.
//
// Thread-safety: make and configure a request on the thread that runs the change block.
#pragma once

#include <memory>
#include <optional>

#include "platform/foundation/Date.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/photos/PhotoAsset.hpp"

namespace pindle::platform {

class AssetChangeRequest;
using AssetChangeRequestPtr = std::shared_ptr<AssetChangeRequest>;

class AssetChangeRequest {
  public:
    // Adds the video at `fileURL` (copied in; the file must be a readable movie).
    static AssetChangeRequestPtr creationRequestForAssetFromVideo(const URL& fileURL);
    // Adds the picture at `fileURL` (copied in; the file must be a readable image).
    static AssetChangeRequestPtr creationRequestForAssetFromImage(const URL& fileURL);

    AssetChangeRequest(PhotoAsset::MediaType type, URL fileURL)
        : type_(type), fileURL_(std::move(fileURL)) {}

    PhotoAsset::MediaType mediaType() const { return type_; }
    const URL& fileURL() const { return fileURL_; }
    // Defaults to the time the change is carried out.
    std::optional<Date> creationDate;
    std::optional<LocationCoordinate2D> location;
    // Stores the video as an edited one (answered as a Composition), as a user's edit in
    // the system's own photo application would leave it.
    bool isComposition = false;

  private:
    const PhotoAsset::MediaType type_;
    const URL fileURL_;
};

}  // namespace pindle::platform
