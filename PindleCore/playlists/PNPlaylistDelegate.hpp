// PNPlaylistDelegate: the observer a host gives a playlist to learn of loads and changes.
//
// Both calls are optional: each has an empty default, so a delegate overrides only what it
// wants. A playlist holds its delegate weakly and calls it without holding any lock of its
// own, on the thread where the change happened: the caller's thread for changes the host
// makes, the API client's callback queue for loads (never moved to the main queue).
//
// Thread-safety: up to the implementer; calls for one playlist never overlap as long as the
// host does not change the playlist from two threads at once.
#pragma once

#include <cstdint>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNPlaylistUpdateType.hpp"

namespace pindle {

class PNPlaylistDelegate {
  public:
    virtual ~PNPlaylistDelegate() = default;

    // A page or an identifier list finished loading; `videos` are what that load brought.
    virtual void loadedWithVideos(const std::vector<PNVideoPtr>& videos) { (void)videos; }
    // Positions were added, or (type reset, no positions) the playlist was emptied.
    virtual void updatedWithUpdatedIndexes(const std::vector<std::int64_t>& updatedIndexes,
                                           PNPlaylistUpdateType type) {
        (void)updatedIndexes;
        (void)type;
    }
};

}  // namespace pindle
