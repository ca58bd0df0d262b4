// PhotoAsset: one picture or video of the photo library: its identifier, media type,
// creation date and place, and the file the library keeps it in. The library makes them;
// fetches find them by media type or by the reference URL a picker hands out
// ("assets-library://asset/asset.<EXT>?id=<localIdentifier>&ext=<EXT>").
//
// Thread-safety: immutable, so safe from any thread. No callbacks.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Date.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/location/Location.hpp"

namespace pindle::platform {

class PhotoAsset;
using PhotoAssetPtr = std::shared_ptr<PhotoAsset>;

class PhotoAsset : public Object {
  public:
    enum class MediaType { unknown = 0, image = 1, video = 2 };

    struct Record {
        std::string localIdentifier;
        MediaType mediaType = MediaType::unknown;
        std::string file;  // a name inside the library's folder
        Date creationDate;
        std::optional<LocationCoordinate2D> location;
        bool isComposition = false;
    };

    PhotoAsset(Record record, std::string path)
        : record_(std::move(record)), path_(std::move(path)) {}

    const std::string& localIdentifier() const { return record_.localIdentifier; }
    MediaType mediaType() const { return record_.mediaType; }
    Date creationDate() const { return record_.creationDate; }
    const std::optional<LocationCoordinate2D>& location() const { return record_.location; }
    // True for a video the user edited, which the image manager answers as a Composition.
    bool isComposition() const { return record_.isComposition; }
    // The full path of the stored file.
    const std::string& path() const { return path_; }
    const Record& record() const { return record_; }
    // The reference URL a picker hands out for this asset.
    URL referenceURL() const;

    // The shared library's assets of `type` (all with unknown), oldest first.
    static std::vector<PhotoAssetPtr> fetchAssets(MediaType type);
    // The shared library's assets named by reference URLs, in the order of the URLs; URLs
    // that name no asset are skipped.
    static std::vector<PhotoAssetPtr> fetchAssetsWithALAssetURLs(const std::vector<URL>& urls);

  private:
    const Record record_;
    const std::string path_;
};

}  // namespace pindle::platform
