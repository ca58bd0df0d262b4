// PNPlaybackQueueDelegate: told by a PNPlaybackQueue whenever its resolved window of videos
// changes. The player view controller and the players manager adopt it.
//
// Thread-safety: called on the thread that changed the queue (the owner's thread for moves,
// the thread that posted PNPlaylistUpdated for playlist updates), with no lock held.
#pragma once

#include <vector>

#include "PindleCore/model/PNVideo.hpp"

namespace pindle {

class PNPlaybackQueueDelegate {
  public:
    virtual ~PNPlaybackQueueDelegate() = default;
    virtual void playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) = 0;
};

}  // namespace pindle
