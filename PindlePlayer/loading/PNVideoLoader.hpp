// PNVideoLoader: schedules the loading of media bytes for one player identity. It keeps the
// videos it is asked to keep ready, highest priority first, as one PNVideoLoaderRequest each;
// it keeps every PNVideoLoaderListener (one platform loading request each) and hands it to
// the request of its video; and it decides which requests download: every request in full
// mode, and preload requests only while download slots are left (`concurrentRequestCount`
// slots, full-mode requests taking theirs first), cancelling running preloads beyond that.
// A request held back after a failed download keeps its slot but is not started until its
// retry delay has passed; it then calls enqueu() itself.
//
// A loader made with make(id, count) is registered in the process-wide table under its
// player id (a later one under the same id replaces it), so the player views, controllers
// and the players manager that share a player id share a loader. It stays registered until
// unregister(): whoever made a loader for itself (a players manager, a controller, a player
// view that steers its own loading) unregisters it when it goes, and since its listeners
// hold it weakly, the loader and its downloads then go too. The table has its own lock, so
// it may be used from any thread.
//
// Thread-safety: every operation may be called from any thread; the work runs on the loader's
// serial queue "local.pindle.pinlet.videoloader", holds the loader weakly and does nothing
// once it is gone. The requests are started and cancelled from that queue. Log lines go to
// the VDLD channel, prefixed with the last six characters of the id in lower case.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequest.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequestDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle {

class PNVideoLoaderListener;
class PNVideoLoader;
using PNVideoLoaderPtr = std::shared_ptr<PNVideoLoader>;

class PNVideoLoader : public PNVideoLoaderRequestDelegate,
                      public std::enable_shared_from_this<PNVideoLoader> {
  public:
    static constexpr const char* queueLabel = "local.pindle.pinlet.videoloader";

    // A loader with id "shared" and one slot, not registered. `cache` defaults to the
    // process's player cache.
    static PNVideoLoaderPtr make(std::shared_ptr<PNPlayerCache> cache = nullptr);
    // A loader registered under `id`, replacing any registered before under it.
    static PNVideoLoaderPtr make(std::string id, int concurrentRequestCount,
                                 std::shared_ptr<PNPlayerCache> cache = nullptr);
    // The loader registered under `id`; null when none.
    static PNVideoLoaderPtr loader(const std::string& id);
    // Takes `loader` out of the table, when it is the one registered under its id.
    static void unregister(const PNVideoLoader& loader);
    static std::size_t loadersCount();

    struct Private {
        explicit Private() = default;
    };
    PNVideoLoader(Private, std::string id, int concurrentRequestCount,
                  std::shared_ptr<PNPlayerCache> cache);
    PNVideoLoader(const PNVideoLoader&) = delete;
    PNVideoLoader& operator=(const PNVideoLoader&) = delete;

    const std::string& id() const { return id_; }
    int concurrentRequestCount() const { return concurrentRequestCount_; }

    // Replaces the request list: requests of videos still named (the same objects) are kept,
    // others are cancelled and dropped, and new ones get the open listeners of their video.
    // A video named twice (by id) gets one request.
    void setVideosToPreload(std::vector<PNVideoPtr> videos);
    // Starts and cancels requests by the slot rule.
    void enqueu() override;
    void setPreload(std::string videoId, bool isPreload);
    // Registers the listener and hands it to its video's request (or keeps it until a
    // request for its video is made).
    void addListener(std::shared_ptr<PNVideoLoaderListener> listener);
    // Forgets the listener, and removes it from its video's request.
    void removeListener(std::shared_ptr<PNVideoLoaderListener> listener);

    void log(const std::string& line) override;

    // Snapshots, for hosts and tests.
    std::vector<std::shared_ptr<PNVideoLoaderRequest>> requests() const;
    std::vector<std::shared_ptr<PNVideoLoaderListener>> listeners() const;

  private:
    void register_();
    void enqueueOnQueue();
    std::shared_ptr<PNVideoLoaderRequest> requestForLocked(const std::string& videoId) const;
    template <class Work>
    void onQueue(Work work);

    const std::string id_;
    const int concurrentRequestCount_;
    const std::shared_ptr<PNPlayerCache> cache_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    PNLogger logger_{PNLoggerType::VDLD};

    // Changed only on queue_; the mutex lets the snapshots read them from other threads.
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<PNVideoLoaderRequest>> requests_;    // guarded by mutex_
    std::vector<std::shared_ptr<PNVideoLoaderListener>> listeners_;  // guarded by mutex_
};

}  // namespace pindle
