// PlayerItemVideoOutput: the pixel sink of a player item: the frame shown at an item time,
// decoded on demand from bytes already present. It never waits: when the next frame's bytes
// are missing it gives the last frame decoded, and before the first frame it gives null.
//
// Thread-safety: all operations are safe from any thread (a render on the main thread
// never waits for loading). No callbacks.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/VideoFrame.hpp"

namespace pindle::platform {

class PlayerItem;

class PlayerItemVideoOutput : public Object {
  public:
    static std::shared_ptr<PlayerItemVideoOutput> make();

    // The frame shown at `itemTime`; `displayTime` receives that frame's own time.
    ImagePtr copyImage(MediaTime itemTime, MediaTime* displayTime = nullptr);
    // The same frame as the decoder left it (planar Y'CbCr where it can), for the screen.
    VideoFramePtr copyFrame(MediaTime itemTime, MediaTime* displayTime = nullptr);
    // True when copyImage(itemTime) would give a frame other than the one last copied.
    bool hasNewImage(MediaTime itemTime) const;

    // The item's side: the item this output was added to.
    void setItem(std::weak_ptr<PlayerItem> item);

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<PlayerItem> item_;       // guarded by mutex_
    std::optional<MediaTime> lastCopied_;  // guarded by mutex_; the frame time last copied
};

using PlayerItemVideoOutputPtr = std::shared_ptr<PlayerItemVideoOutput>;

}  // namespace pindle::platform
