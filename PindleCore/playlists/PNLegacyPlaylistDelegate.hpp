// PNLegacyPlaylistDelegate: what a legacy playlist tells its delegate when its number of
// items changes.
//
// Thread-safety: called on the thread where the change was handled (the API client's
// callback queue or a global background queue), never moved to the main queue; a delegate
// that touches the interface moves there itself. No lock of the playlist is held.
#pragma once

#include <cstdint>
#include <vector>

namespace pindle {

class PNLegacyPlaylist;

class PNLegacyPlaylistDelegate {
  public:
    virtual ~PNLegacyPlaylistDelegate() = default;

    // The count went to `newCount`; `newIndexes` are the inserted public positions and
    // `oldIndexes` the removed ones. `localVideo` is true when a local video caused it.
    virtual void updatedWithPlaylist(PNLegacyPlaylist& playlist,
                                     const std::vector<std::int64_t>& newIndexes,
                                     const std::vector<std::int64_t>& oldIndexes,
                                     std::int64_t newCount, bool localVideo) = 0;
    // Never sent by the library; kept for delegates written against the older interface.
    virtual void updatedWithPlaylist(PNLegacyPlaylist& playlist,
                                     const std::vector<std::int64_t>& newIndexes,
                                     std::int64_t newCount, bool atStart) = 0;
};

}  // namespace pindle
