// URLAsset: an asset at a URL, with the resource loader through which a player gets the
// bytes of a URL whose scheme is the host's own ("pinlet://<uid>/<videoId>").
//
// File and http(s) URLs answer as Asset does (read on first use, on the asking thread). A
// host scheme is never read here, since its bytes come from a delegate that may run on the
// asking thread: its accessors answer what the item playing it has learnt so far (an
// indefinite duration and no tracks before that) and never block.
//
// Thread-safety: all operations are safe from any thread. The resource loader's delegate is
// called on the queue set with it.
#pragma once

#include <memory>
#include <mutex>

#include "platform/media/Asset.hpp"
#include "platform/media/AssetResourceLoader.hpp"

namespace pindle::platform {

class URLAsset;
using URLAssetPtr = std::shared_ptr<URLAsset>;

class URLAsset : public Asset {
  public:
    static URLAssetPtr make(URL url);

    URLAsset(Private, URL url);

    AssetResourceLoader& resourceLoader() { return *resourceLoader_; }
    // True for a scheme that only a resource loader can serve.
    bool isServedByResourceLoader() const { return servedByLoader_; }

    MediaTime duration() const override;
    std::vector<AssetTrack> tracks() const override;
    std::optional<Error> loadError() const override;

    // The playing item's side: what it learnt from the header.
    void noteLoaded(MediaTime duration, std::vector<AssetTrack> tracks);

  private:
    const std::shared_ptr<AssetResourceLoader> resourceLoader_;
    const bool servedByLoader_;

    mutable std::mutex mutex_;
    MediaTime learntDuration_ = MediaTime::indefiniteTime();  // guarded by mutex_
    std::vector<AssetTrack> learntTracks_;                    // guarded by mutex_
};

}  // namespace pindle::platform
