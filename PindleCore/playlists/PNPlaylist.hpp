// PNPlaylist: the base of every playlist: an ordered list of shared video records, the total
// the source reports (absent until a subclass learns it) and a weakly held delegate.
//
// The player holds playlists through this class and reads count(), totalCount(), videoAt()
// and videoById(); it recognises a playlist in a PNPlaylistUpdated notification by testing
// the payload's "playlist" object against this class. Subclasses page from the backend
// (PNFilteredPlaylist), follow the host's choice (PNCustomPlaylist), or keep the legacy model.
//
// The newer playlists post PNPlaylistUpdated on the default center with, as the object, a
// dictionary {"playlist": the playlist (object reference), "updatedIndexes": array of
// integers}, after telling the delegate of the same positions. reset() posts nothing.
//
// Thread-safety: every operation is safe from any thread: the list, the total and the delegate
// are guarded by one mutex, and readers get copies. The delegate is called, and notifications
// posted, without that mutex held, on the thread where the change happened (see
// PNPlaylistDelegate).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNPlaylistDelegate.hpp"
#include "PindleCore/playlists/PNPlaylistProtocol.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNPlaylist : public platform::KeyValueObservable, public PNPlaylistProtocol {
  public:
    // Keys of the PNPlaylistUpdated payload.
    static constexpr const char* playlistKey = "playlist";
    static constexpr const char* updatedIndexesKey = "updatedIndexes";

    PNPlaylist() = default;
    PNPlaylist(const PNPlaylist&) = delete;
    PNPlaylist& operator=(const PNPlaylist&) = delete;

    std::vector<PNVideoPtr> videos() const;
    // Replaces the list; nobody is told.
    void setVideos(std::vector<PNVideoPtr> videos);
    std::int64_t count() const;

    std::optional<std::int64_t> totalCount() const;
    // Nobody is told, and nothing keeps the value at or above count().
    void setTotalCount(std::optional<std::int64_t> totalCount);

    // nullptr when none is set or it has gone away.
    std::shared_ptr<PNPlaylistDelegate> delegate() const;
    // Held weakly: the playlist never keeps its delegate alive.
    void setDelegate(const std::shared_ptr<PNPlaylistDelegate>& delegate);

    // Empties the list and tells the delegate (no positions, type reset). The total stays;
    // nothing is posted.
    void reset() override;
    PNVideoPtr videoAt(std::int64_t index) override;
    bool hasVideoAt(std::int64_t index) override;
    // The first video, in list order, whose identifier is exactly `videoID`; nullptr if none.
    PNVideoPtr videoById(const std::string& videoID) const;
    bool hasVideoById(const std::string& videoID) const;

  protected:
    // The positions first, first + 1, ..., up to but not including end.
    static std::vector<std::int64_t> positions(std::int64_t first, std::int64_t end);

    // The calls out that subclasses make after changing the list; each reads the delegate
    // once and calls it with no lock held.
    void tellLoaded(const std::vector<PNVideoPtr>& videos) const;
    void tellUpdated(const std::vector<std::int64_t>& updatedIndexes,
                     PNPlaylistUpdateType type) const;
    // Posts PNPlaylistUpdated with the payload described above.
    void postUpdated(const std::vector<std::int64_t>& updatedIndexes);

    // Guards the fields below; subclasses take it to change the list and the total together.
    mutable std::mutex mutex_;
    std::vector<PNVideoPtr> videos_;          // guarded by mutex_
    std::optional<std::int64_t> totalCount_;  // guarded by mutex_
    platform::WeakDelegate<PNPlaylistDelegate> delegate_;
};

using PNPlaylistPtr = std::shared_ptr<PNPlaylist>;

}  // namespace pindle
