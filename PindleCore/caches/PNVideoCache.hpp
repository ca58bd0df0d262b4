// PNVideoCache: the video records the backend has handed out, kept in memory by identifier.
//
// The video endpoints store every record they receive. Lookups answer from memory, then from
// the local video file cache, then from the backend. The cache follows the live video
// notifications: PNVideoCreated patches a cached record's media addresses in place (or fetches
// the record), PNVideoUpdated refetches and PNVideoDeleted drops it; the payload is the
// notification's object: {"videoID": ...}, a bare identifier text, or a list of identifiers,
// each of which is handled (PNNotifiedVideoIDs). A patch replaces the three MP4 addresses of
// the shared record at once, under the record's own lock (see PNVideo).
//
// A lookup that memory can answer completes synchronously on the caller's thread, before the
// call returns, and returns no cancellable; otherwise the completion runs on the API client's
// reply thread. Nothing is persisted and there is no size limit.
//
// Thread-safety: all operations are safe from any thread. One recursive lock serialises the
// operations; completions answered from memory run under it (they may call the cache again on
// the same thread, but must not wait for another thread that needs the cache). The one
// exception is the whole map, cache() and setCache(), which take no lock (see there).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Notification.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

class PNVideoCache {
  public:
    using VideoCompletion = std::function<void(const std::shared_ptr<PNVideo>& video,
                                               const std::optional<platform::Error>& error)>;
    using VideosCompletion =
        std::function<void(const std::vector<std::shared_ptr<PNVideo>>& videos)>;
    // Records by identifier; the records themselves are shared, never copied.
    using Map = std::map<std::string, std::shared_ptr<PNVideo>>;

    static PNVideoCache& shared();

    PNVideoCache(const PNVideoCache&) = delete;
    PNVideoCache& operator=(const PNVideoCache&) = delete;

    // The record from memory, the local file cache or the backend (stored when fetched).
    PNCancellablePtr getVideo(const std::string& videoID, VideoCompletion completion);
    // The records of `videoIDs` in their order (repetitions kept); the missing ones are fetched
    // in one request. After a failure the completion gets the records that are cached.
    PNCancellablePtr getVideos(const std::vector<std::string>& videoIDs,
                               VideosCompletion completion);
    std::shared_ptr<PNVideo> getCachedVideo(const std::string& videoID) const;
    std::vector<std::shared_ptr<PNVideo>> getCachedVideos(
        const std::vector<std::string>& videoIDs) const;
    void putVideoToCache(const std::shared_ptr<PNVideo>& video);
    void putVideosToCache(const std::vector<std::shared_ptr<PNVideo>>& videos);
    // Empties the cache.
    void didReceiveMemoryWarning();

    // The whole map, read or replaced at once. These two take no lock: they never wait for an
    // operation under way, and a host needs to hold nothing to call them from any thread. A map
    // is never changed while it is published or while a reader may still hold it (every change
    // publishes another map), so what cache() returns is always a whole map as some moment left
    // it. What they do not give is order with the operations
    // under way: a lookup already running may answer from the map before a replacement, and a
    // record stored after one (a fetch's answer, say) is added to the replacement.
    Map cache() const;
    void setCache(Map cache);

  private:
    PNVideoCache();

    void deleteVideo(const std::string& videoID);
    void syncVideo(const std::string& videoID);
    void handleVideosCreated(const platform::Notification& notification);
    void handleVideosUpdated(const platform::Notification& notification);
    void handleVideosDeleted(const platform::Notification& notification);

    // Publishes the map with `change` applied, again on the newer map when setCache() published
    // one meanwhile. The map goes onto the spare when no reader holds that any more: brought up
    // to date by the change that made the published map, and changed in place, so that a change
    // costs what it changes rather than a copy of every record. Otherwise onto a copy.
    // REQUIRES: lock_ held, so changes never race one another.
    using Change = std::function<void(Map& map)>;
    void changeMap(Change change);
    // Whether nothing but `map` itself holds the map. REQUIRES: the map is not published, so
    // that no reader can come to hold it.
    static bool isHeldByNoReader(const std::shared_ptr<Map>& map);
    // Whether `map` is the one this cache published last (not one setCache() published).
    // REQUIRES: lock_ held.
    bool isPublishedHere(const std::shared_ptr<const Map>& map) const;

    // Recursive: the operations call one another under it (the notification handlers fetch
    // through getVideo, which reads through getCachedVideo). It orders the operations; the map
    // itself is published through cache_ (changed under lock_, or by setCache()).
    mutable std::recursive_mutex lock_;
    // The published map: a pointer behind a mutex of its own, held only to copy or swap the
    // pointer, never while a map is copied or changed. (The standard library's atomic
    // shared_ptr releases its inner lock with relaxed order after a load, which leaves that
    // load unordered with a later store.)
    class PublishedMap {
      public:
        std::shared_ptr<const Map> load() const;
        void store(std::shared_ptr<const Map> map);
        // Publishes `desired` if `expected` is still the published map; otherwise sets
        // `expected` to the published map and returns false.
        bool compareExchange(std::shared_ptr<const Map>& expected,
                             std::shared_ptr<const Map> desired);

      private:
        mutable std::mutex mutex_;
        std::shared_ptr<const Map> map_ = std::make_shared<const Map>();  // guarded by mutex_
    };
    PublishedMap cache_;
    // The map this cache published last (weakly: a replacement by setCache() frees it), the one
    // that map replaced (the spare, made by this cache and no longer published, though readers
    // may still hold it) and the change that turns the spare into the published map. All three
    // guarded by lock_.
    std::weak_ptr<const Map> published_;
    std::shared_ptr<Map> spare_;
    Change spareLag_;
    std::vector<platform::NotificationCenter::ScopedRegistration> registrations_;
};

}  // namespace pindle
