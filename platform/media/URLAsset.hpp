// URLAsset: an asset read from a URL: a local file, or an http(s) address read through
// FFmpeg's own I/O.
//
// The properties are read from the header on first use, once, synchronously on the asking
// thread; a resource that cannot be read has no tracks, an invalid duration and a
// loadError(): a missing or unreadable file keeps its errno in the POSIX domain, bytes that
// are no timed media (still images and text included) give
// MediaError::fileFormatNotRecognized.
//
// URLs of other schemes ("pinlet://<uid>/<videoId>") have no reader of their own: their bytes
// come only through the asset's resource loader, whose delegate may run on the asking thread,
// so they are never read here. Their accessors answer what the item playing the asset has
// learnt so far and never block; before the item has read the header they report
// MediaError::operationNotSupportedForAsset, no tracks and an invalid duration.
//
// Thread-safety: all operations are safe from any thread. The resource loader's delegate is
// called on the queue set with it.
#pragma once

#include <memory>
#include <mutex>

#include "platform/foundation/URL.hpp"
#include "platform/media/Asset.hpp"
#include "platform/media/AssetResourceLoader.hpp"

namespace pindle::platform {

class URLAsset;
using URLAssetPtr = std::shared_ptr<URLAsset>;

class URLAsset : public Asset {
  public:
    static URLAssetPtr make(URL url);

    struct Private {
        explicit Private() = default;
    };
    URLAsset(Private, URL url);

    const URL& url() const { return url_; }
    AssetResourceLoader& resourceLoader() const { return *resourceLoader_; }
    // True for a scheme that only the resource loader can serve.
    bool isServedByResourceLoader() const { return servedByLoader_; }
    std::string description() const override;

    // The playing item's side: what it learnt from the header.
    void noteLoaded(MediaTime duration, std::vector<AssetTrack> tracks);

  protected:
    Properties properties() const override;

  private:
    // Reads the header of a file or http(s) resource.
    Properties readHeader() const;

    const URL url_;
    const std::shared_ptr<AssetResourceLoader> resourceLoader_;
    const bool servedByLoader_;
    mutable std::once_flag loadOnce_;
    mutable Properties loaded_;  // written once, under loadOnce_
    mutable std::mutex mutex_;
    Properties learnt_;  // guarded by mutex_; for a host scheme
};

}  // namespace pindle::platform
