// Asset: a timed media resource and what it contains: its duration, its tracks and the
// container's metadata, or why they could not be read.
//
// Asset is the abstract base; URLAsset reads a resource at a URL, and other kinds (an edited
// composition) answer from what they hold. Readers of the media (AssetImageGenerator, export
// and playback) open the resource again for themselves, so one asset may serve several
// readers at once.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/media/AssetTrack.hpp"

namespace pindle::platform {

class Asset;
using AssetPtr = std::shared_ptr<Asset>;

class Asset : public Object {
  public:
    // One item of the container's metadata, with the library's raw key (such as
    // "creation_time" or "com.apple.quicktime.location.ISO6709"), in the file's order.
    struct MetadataItem {
        std::string key;
        std::string value;
        bool operator==(const MetadataItem&) const = default;
    };

    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

    // Invalid when unknown or unreadable.
    MediaTime duration() const;
    std::vector<AssetTrack> tracks() const;
    std::vector<AssetTrack> tracksWithMediaType(MediaType type) const;
    std::vector<MetadataItem> metadata() const;
    // Why the properties could not be read; nothing when they could (or are not known yet).
    std::optional<Error> loadError() const;
    bool isReadable() const { return !loadError().has_value(); }

  protected:
    struct Properties {
        MediaTime duration;
        std::vector<AssetTrack> tracks;
        std::vector<MetadataItem> metadata;
        std::optional<Error> error;
    };

    Asset() = default;
    // What the asset knows now. Called from any thread; must not block on another thread
    // that might be waiting for the caller.
    virtual Properties properties() const = 0;
};

}  // namespace pindle::platform
