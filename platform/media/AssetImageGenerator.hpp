// AssetImageGenerator: makes still images of an asset's video at given times.
//
// Each request opens the asset's URL (assets that are no URLAsset give no images), decodes from the
// key frame at or before the time and returns the last frame that starts at or before it (the first
// frame when none does), so a request for time zero gives the first frame. With
// appliesPreferredTrackTransform set, the image is turned as the track's preferred transform says
// (quarter turns).
//
// Thread-safety: all operations are safe from any thread; requests run synchronously on
// the calling thread, and several may run at once. No callbacks.
#pragma once

#include <atomic>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/media/Asset.hpp"
#include "platform/media/Image.hpp"

namespace pindle::platform {

class AssetImageGenerator {
  public:
    // REQUIRES: asset is not null.
    explicit AssetImageGenerator(AssetPtr asset);
    AssetImageGenerator(const AssetImageGenerator&) = delete;
    AssetImageGenerator& operator=(const AssetImageGenerator&) = delete;

    const AssetPtr& asset() const { return asset_; }
    bool appliesPreferredTrackTransform() const { return appliesTransform_.load(); }
    void setAppliesPreferredTrackTransform(bool applies) { appliesTransform_.store(applies); }

    // The image at `requestedTime`, or null with the reason in `error` (when given): the
    // URL cannot be read, it has no video track, nothing decodes, or the time is not
    // numeric or negative. `actualTime` (when given) receives the start of the frame returned.
    ImagePtr copyImageAtTime(MediaTime requestedTime, MediaTime* actualTime = nullptr,
                             std::optional<Error>* error = nullptr) const;

  private:
    const AssetPtr asset_;
    std::atomic<bool> appliesTransform_{false};
};

}  // namespace pindle::platform
