// PlayerLayer: a layer that shows a player's video: the frame at the player's current time,
// fitted into the bounds by the video gravity and always cut to them. It adds a private
// video output to each item the player plays, so drawing decodes on demand and never waits
// for loading (before the first frame it draws nothing; during a stall the last frame
// stays).
//
// On a screen the frame is picked for the time the player will be at when the refresh shows
// (its current time, run on by its rate to the refresh's host time) and drawn from the
// decoder's planes; snapshots draw the same frame converted to RGBA. Until the player seeks or
// plays backwards, or its item changes, the screen is never given a frame earlier than one it
// was given already.
//
// readyForDisplay (KVO key "readyForDisplay") turns true once the player's current item can
// show its first frame, and false when the item is replaced.
//
// Thread-safety: as Layer. "readyForDisplay" is announced on the thread where the player
// reports its item's status (the item's queue, or the caller of replaceCurrentItem).
#pragma once

#include <memory>
#include <mutex>

#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/PlayerItemVideoOutput.hpp"
#include "platform/ui/Layer.hpp"

namespace pindle::platform::ui {

class PlayerLayer;
using PlayerLayerPtr = std::shared_ptr<PlayerLayer>;

enum class VideoGravity { resizeAspect, resizeAspectFill, resize };

class PlayerLayer : public Layer {
  public:
    static PlayerLayerPtr make(PlayerPtr player = nullptr);
    PlayerLayer() = default;
    ~PlayerLayer() override;

    PlayerPtr player() const;
    void setPlayer(PlayerPtr player);
    VideoGravity videoGravity() const;
    void setVideoGravity(VideoGravity gravity);
    bool isReadyForDisplay() const { return readyForDisplay_.get(); }

    // The frame shown now; null before the first frame or without a player.
    ImagePtr currentImage() const;

    // The screen's side: the frame for the player's time at the refresh, as decoded.
    bool drawsVideo() const override { return true; }
    VideoContent videoContent(double hostTime) const override;

  protected:
    void drawContents(GraphicsContext& context, const Rect& bounds) const override;

  private:
    void itemChanged(const PlayerItemPtr& item);

    const PlayerItemVideoOutputPtr output_ = PlayerItemVideoOutput::make();
    ObservableProperty<bool> readyForDisplay_{*this, "readyForDisplay", false};
    // Guarded by UILock.
    PlayerPtr player_;
    VideoGravity gravity_ = VideoGravity::resizeAspect;
    KeyValueObservationPtr itemObservation_;
    KeyValueObservationPtr statusObservation_;

    // The latest time the screen was given a frame for, of which item from which seek.
    struct Picked {
        std::weak_ptr<PlayerItem> item;
        std::uint64_t generation = 0;
        MediaTime time;
    };
    mutable std::mutex pickedMutex_;
    mutable Picked picked_;  // guarded by pickedMutex_
};

}  // namespace pindle::platform::ui
