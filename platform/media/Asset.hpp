// Asset: a timed media resource at a URL (a local file, or an http(s) address read through
// FFmpeg's own I/O) and what it contains: its duration and its tracks.
//
// Properties load on first use, once, synchronously on the asking thread; an asset that cannot
// be read has no tracks, an invalid duration and a loadError(). Readers of the media
// (AssetImageGenerator, later export and playback) open the URL again for themselves, so
// one asset may serve several readers at once.
//
// URLs of other schemes cannot be read yet: the player will hand out assets whose URLs have
// a scheme of its own and serve their bytes through a resource loader; that loader will be
// plugged in here, in front of FFmpeg's I/O.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/AssetTrack.hpp"
#include "platform/media/MediaTime.hpp"

namespace pindle::platform {

class Asset;
using AssetPtr = std::shared_ptr<Asset>;

class Asset : public Object {
  public:
    static AssetPtr make(URL url);

    struct Private {
        explicit Private() = default;
    };
    Asset(Private, URL url);
    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

    const URL& url() const { return url_; }
    virtual MediaTime duration() const;
    virtual std::vector<AssetTrack> tracks() const;
    std::vector<AssetTrack> tracksWithMediaType(MediaType type) const;
    // Why the properties could not be read; nothing when they could.
    virtual std::optional<Error> loadError() const;
    bool isReadable() const { return !loadError().has_value(); }

    std::string description() const override;

  private:
    struct Properties {
        MediaTime duration;
        std::vector<AssetTrack> tracks;
        std::optional<Error> error;
    };
    const Properties& properties() const;

    const URL url_;
    mutable std::once_flag loadOnce_;
    mutable Properties properties_;  // written once, under loadOnce_
};

}  // namespace pindle::platform
