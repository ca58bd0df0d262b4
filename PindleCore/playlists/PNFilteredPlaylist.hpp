// PNFilteredPlaylist: a playlist that pages the backend's video list for one filter and one
// sort order. Each loadNextVideos() fetches the filter's current page (page size = the
// filter's limit), appends it, advances the filter's page, tells the delegate
// (loadedWithVideos with the new page, then updatedWithUpdatedIndexes with the new positions
// and type added) and posts PNPlaylistUpdated. The total becomes the larger of the backend's
// "video-total-count" and count(). A new playlist starts fetching its first page at once.
// The player asks for more while count() is below a known totalCount().
//
// At most one page request is in flight; a call while one runs does nothing. A failed page
// prints "Error: <description>" on standard output and changes nothing, so the next call asks
// for the same page again. reset() empties the list, goes back to page 1 and cancels the
// request in flight; a page that arrives for a request made before a reset is dropped, and
// the next request can start once that one has reported back.
//
// Thread-safety: every operation is safe from any thread. Pages are applied, the delegate is
// called and the notification posted on the API client's callback queue, never on the main
// queue and with no lock held. The filter object is shared with whoever passed it: the
// playlist advances its page; the host changes its other fields from one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNSortOrder.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle {

class PNFilteredPlaylist : public PNPlaylist {
  protected:
    struct Private {
        explicit Private() = default;
    };

  public:
    // A playlist over `filter` that has already asked for the filter's current page.
    // REQUIRES: filter is not null.
    static std::shared_ptr<PNFilteredPlaylist> make(std::shared_ptr<PNVideoFilter> filter,
                                                    PNSortOrder sortOrder);

    // Use make() or a subclass's make(); the playlist must be owned by a std::shared_ptr.
    PNFilteredPlaylist(Private, std::shared_ptr<PNVideoFilter> filter, PNSortOrder sortOrder);
    ~PNFilteredPlaylist() override;

    std::shared_ptr<PNVideoFilter> filter() const;
    // Takes effect at the next page request; a null filter is ignored.
    void setFilter(std::shared_ptr<PNVideoFilter> filter);
    PNSortOrder sortOrder() const { return sortOrder_; }

    // Asks for the next page unless a request is in flight.
    void loadNextVideos();
    // Empties the list (delegate told: no positions, type reset), goes back to page 1 and
    // cancels the request in flight. The total stays; nothing is loaded or posted.
    void reset() override;

  protected:
    // Starts the first page; every factory calls it once the playlist is owned.
    template <class T>
    static std::shared_ptr<T> started(std::shared_ptr<T> playlist) {
        playlist->loadNextVideos();
        return playlist;
    }

  private:
    void pageArrived(std::uint64_t requestNumber, std::uint64_t resetCount,
                     const std::shared_ptr<PNVideoFilter>& requestedFilter,
                     const std::shared_ptr<PNVideosResponse>& response,
                     const std::optional<platform::Error>& error);

    const PNSortOrder sortOrder_;
    std::shared_ptr<PNVideoFilter> filter_;  // guarded by mutex_
    // The request in flight; kept from the moment the call returns until its completion.
    PNCancellablePtr nextVideosRequest_;  // guarded by mutex_
    bool loading_ = false;                // guarded by mutex_
    // Numbers the requests, so a late hand-over of a cancellable finds out it is stale.
    std::uint64_t requestNumber_ = 0;  // guarded by mutex_
    // Counts resets, so a page asked for before a reset is not applied after it.
    std::uint64_t resetCount_ = 0;  // guarded by mutex_
};

}  // namespace pindle
