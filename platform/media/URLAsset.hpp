// URLAsset: an asset read from a URL: a local file, or an http(s) address read through
// FFmpeg's own I/O.
//
// The properties are read from the header on first use, once, synchronously on the asking
// thread; a resource that cannot be read has no tracks, an invalid duration and a
// loadError(): a missing or unreadable file keeps its errno in the POSIX domain, bytes that
// are no timed media (still images and text included) give
// MediaError::fileFormatNotRecognized.
//
// URLs of other schemes have no reader of their own: their bytes are to come through a
// resource loader, and until one serves them the asset reports
// MediaError::operationNotSupportedForAsset.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <memory>
#include <mutex>

#include "platform/foundation/URL.hpp"
#include "platform/media/Asset.hpp"

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
    std::string description() const override;

  protected:
    Properties properties() const override;

  private:
    // Reads the header of a file or http(s) resource.
    Properties readHeader() const;

    const URL url_;
    mutable std::once_flag loadOnce_;
    mutable Properties loaded_;  // written once, under loadOnce_
};

}  // namespace pindle::platform
