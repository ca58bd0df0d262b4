// PNLegacyPlaylist: the index-addressed playlist of every video that carries one tag set and
// one metadata map. It merges the device's local videos not yet on the backend (the inherited
// list, from the local video cache, oldest first) with the backend's videos, fetched lazily in
// pages of 50 and kept by their position in the backend's ascending list, into one list
// ordered by creation date. With `order` false public index 0 is the oldest item; with
// `order` true it is the newest.
//
// It keeps itself current: PNVideoCreated and PNVideoDeleted (and the application becoming
// active) start a sync with the backend, which recounts the remote side when anything
// changed; PNVideoUpdated drops the cached copies of that video; PNLocalVideoCleanedUp and
// PNVideoUploadStarted rebuild the local side. When the number of items changes, the legacy
// delegate is told and PNPlaylistUpdated is posted on the default center with, as the object,
// {"playlist", "newIndexes", "oldIndexes", "newCount", "localVideo"}. Growth is reported at
// the newest end of the public list, shrinkage at its oldest end.
//
// Thread-safety: every operation is safe from any thread. A semaphore of value 1 admits one
// item resolution, sync or change at a time; the lists and counts are guarded by the base's
// mutex, which is never held while calling out. The notification handlers run one after the
// other on the playlist's own serial queue, so however many notifications arrive, at most one
// worker of the pool waits for the semaphore on their behalf. Item completions run on a global
// queue, never the main queue; sync completions, delegate calls and notifications run on the thread
// where the backend's answer or the change was handled (a global queue or the API client's callback
// queue).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/playlists/PNLegacyPlaylistDelegate.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "PindleCore/playlists/PNVideoRequestOperation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Notification.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNLegacyPlaylist : public PNPlaylist, public PNVideoRequestOperationDelegate {
  public:
    // Keys of the PNPlaylistUpdated payload (beside "playlist").
    static constexpr const char* newIndexesKey = "newIndexes";
    static constexpr const char* oldIndexesKey = "oldIndexes";
    static constexpr const char* newCountKey = "newCount";
    static constexpr const char* localVideoKey = "localVideo";
    // Posted by the host when the application comes to the foreground; starts a sync.
    static constexpr const char* applicationDidBecomeActiveNotification =
        "UIApplicationDidBecomeActiveNotification";
    static constexpr int maxConcurrentPageRequests = 5;

    using ItemCompletion =
        std::function<void(const PNVideoPtr& video, const std::optional<platform::Error>& error)>;
    using SyncCompletion = std::function<void(bool success)>;

    // A playlist whose backend side holds `count` videos as of `syncedDate`. It reads its local
    // videos at once and starts observing the video notifications.
    static std::shared_ptr<PNLegacyPlaylist> make(platform::StringSet tags,
                                                  platform::StringDictionary metadata, bool order,
                                                  std::int64_t count, platform::Date syncedDate);
    ~PNLegacyPlaylist() override;

    std::shared_ptr<PNLegacyPlaylistDelegate> legacyDelegate() const;
    // Held weakly.
    void setLegacyDelegate(const std::shared_ptr<PNLegacyPlaylistDelegate>& delegate);

    const platform::StringSet& tags() const { return tags_; }
    const platform::StringDictionary& metadata() const { return metadata_; }
    bool order() const { return order_; }
    static constexpr const char* internalCountKey = "internalCount";
    // The number of items: local videos plus the backend's count. Key-value observable as
    // "internalCount": every write is announced, on the writing thread.
    std::int64_t internalCount() const;
    platform::Value valueForKey(std::string_view key) const override;
    bool isSyncing() const { return isSyncing_.load(); }
    platform::Date syncedDate() const;
    // Identifiers of local videos dropped because their backend copy arrived.
    std::vector<std::string> replacedLocalVideos() const;

    // Resolves the public index, fetching a page when needed. The completion runs exactly
    // once, on a global queue: the video; or nothing and PNError sessionNotStarted or
    // videoOutOfBounds; or nothing and no error when the position falls outside the local
    // list or the caller cancelled before the resolution started.
    // REQUIRES: completion is callable.
    PNCancellablePtr asyncVideoAt(std::int64_t index, ItemCompletion completion);
    // The item at the public index when it is at hand, without waiting; nullptr when it is not
    // (a page request may then be started for later calls) or anything else holds the
    // playlist.
    PNVideoPtr videoAt(std::int64_t index) override;
    // Older names of asyncVideoAt() and videoAt().
    PNCancellablePtr itemAtIndex(std::int64_t index, ItemCompletion completion) {
        return asyncVideoAt(index, std::move(completion));
    }
    PNVideoPtr itemAtIndexCached(std::int64_t index) { return videoAt(index); }

    // Asks the backend what changed since the last sync and recounts when anything did. The
    // completion gets whether the sync and the recount succeeded; while another sync is under
    // way nothing starts and the completion gets false at once. Runs on a global queue.
    void sync(SyncCompletion completion);

    // The positions reported for a change of the count from oldCount to newCount: (inserted,
    // removed).
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> indexes(
        std::int64_t oldCount, std::int64_t newCount) const;
    // The "id" texts of a sync answer's list; elements of another shape are skipped.
    static std::vector<std::string> getIDs(const platform::Array& list);
    // Empties the remote cache and the local list; the counts stay.
    void flushCache();
    // Takes `remoteCount` as the backend's count (a negative one as 0) and recounts:
    // "internalCount" becomes it plus the local videos, and is announced. The legacy delegate
    // and observers of PNPlaylistUpdated hear nothing: the caller reports the change itself.
    void updateCount(std::int64_t remoteCount);

    std::vector<PNVideoPtr> pnVideoRequestReceivedResult(const std::vector<PNVideoPtr>& videos,
                                                         std::int64_t page) override;

  private:
    using RemoteCompletion =
        std::function<void(const PNVideoPtr& video, const std::vector<PNVideoPtr>& replaced,
                           const std::optional<platform::Error>& error)>;

    struct Private {
        explicit Private() = default;
    };

  public:
    PNLegacyPlaylist(Private, platform::StringSet tags, platform::StringDictionary metadata,
                     bool order, std::int64_t count, platform::Date syncedDate);

  private:
    std::shared_ptr<PNLegacyPlaylist> self();
    void observeNotifications();

    // The merged position of a public index; -1 when the index is out of range.
    std::int64_t position(std::int64_t index) const;
    PNVideoPtr localVideoAt(std::int64_t position) const;
    PNVideoPtr remoteVideo(std::int64_t index) const;
    void recursiveItemAtIndex(std::int64_t index, std::int64_t target, bool cachedOnly,
                              ItemCompletion completion);
    void remoteItemAtIndex(std::int64_t index, bool cachedOnly, RemoteCompletion completion);

    // REQUIRES: the caller holds semaphore_.
    void syncInternal(SyncCompletion completion);
    void process(const std::vector<std::string>& created, const std::vector<std::string>& updated,
                 const std::vector<std::string>& deleted, SyncCompletion completion);
    void reloadData(SyncCompletion completion);
    void checkNewVideos(std::int64_t oldCount, std::int64_t newCount, bool localVideo);
    std::vector<PNVideoPtr> check(const std::vector<std::string>& videoIDs);
    bool updateLocalVideos();
    bool hasLocalVideo(const std::string& videoID) const;

    void videosUpdated(const platform::Notification& notification);
    void videosCreated(const platform::Notification& notification);
    void videosDeleted(const platform::Notification& notification);
    void localVideoCleanedUp(const platform::Notification& notification);
    void videoConfirmed(const platform::Notification& notification);

    const platform::StringSet tags_;
    const platform::StringDictionary metadata_;
    const bool order_;
    // Runs the notification handlers' bodies, one at a time, in arrival order.
    const std::shared_ptr<platform::DispatchQueue> operationQueue_;
    const std::shared_ptr<platform::OperationQueue> requestQueue_;
    platform::DispatchSemaphore semaphore_{1};
    std::atomic<bool> isSyncing_{false};
    PNLogger logger_;

    platform::WeakDelegate<PNLegacyPlaylistDelegate> legacyDelegate_;
    // Guarded by PNPlaylist::mutex_, with the local list videos_.
    std::map<std::int64_t, PNVideoPtr> remoteVideos_;  // guarded by mutex_
    std::vector<std::string> replacedLocalVideos_;     // guarded by mutex_
    std::int64_t remoteCount_ = 0;                     // guarded by mutex_
    std::int64_t localCount_ = 0;                      // guarded by mutex_
    std::int64_t internalCount_ = 0;                   // guarded by mutex_
    platform::Date syncedDate_;                        // guarded by mutex_
};

using PNLegacyPlaylistPtr = std::shared_ptr<PNLegacyPlaylist>;

}  // namespace pindle
