// PNVideoLoaderRequest: loads one video for one video loader. It chooses the video's media
// address once (the resolution already preloaded in the player cache, else the one the
// throughput suggests), serves its listeners (the player's byte-range reads) from the cache,
// downloads the ranges that are neither cached nor already downloading, extends the cached
// head of the file with what it downloads (up to about four minutes past the preload limit),
// hands every chunk to its listeners, and tells its loader when a download ends.
//
// In preload mode (the mode it starts in) it loads the head of the file up to the preload
// limit, whatever its listeners ask; in full mode it loads what they ask, to the end of the
// file. Downloads overlap as little as possible: needs whose starts lie within 51,200 bytes
// are merged, and a running download that is still needed keeps running.
//
// A download that fails (not cancelled) without bringing a byte holds the request back: its
// loader does not start it again until a retry delay has passed on the clock (1 s, doubling
// with every such failure in a row, up to 30 s), and is told to look again when it has. A
// download that succeeds or brings bytes ends the run of failures; a listener added starts
// it again at once. Against a dead host this keeps one attempt per delay, not a busy loop.
// A status error never tells the file's length, and the download that got it has loaded
// nothing. A busy or slow server (408, 429, 5xx) is asked again on that schedule; any other
// status (a missing file, a refused one; a 403 only when it answers twice in a row) is the
// server's last word: every read of the request fails with it at once, and nothing more is
// downloaded until a new read is added.
//
// A recorded video that has no media address yet but has its file on this device is served
// from that file (read-only; no download starts).
//
// Thread-safety: every operation may be called from any thread. start, addListener,
// removeListener, setPreload and all listener calls run on the request's serial queue; the
// download callbacks run on the downloader's callback queue and hop to that queue for the
// listeners. cancel() runs on the caller's thread and is final: a plan under way on the
// request's queue either finishes before it (and its downloads are cancelled) or finds the
// request no longer requesting and starts nothing. The request's state is guarded by one
// mutex that is never held while calling out (the player cache included); the download lock
// is held while downloads are kept, cancelled and started (calling the downloader and the
// downloads' cancelIt), never while calling a listener or the loader.
//
// A reply without a length keeps its bytes; when it runs to its end they are the whole
// file, and its length is recorded then.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "PindleCore/api/PNDownloader.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequestDelegate.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequestListener.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNVideoLoaderRequest : public std::enable_shared_from_this<PNVideoLoaderRequest> {
  public:
    // Needs whose starts lie closer than this share one download.
    static constexpr std::int64_t mergeDistance = 51200;
    // Bytes are cached only below this many seconds of playback past the preload limit.
    static constexpr std::int64_t cachedSecondsPastPreload = 240;
    static constexpr const char* queueLabel = "local.pindle.pinlet.videoloaderrequest";
    // The wait after a first failed download, doubled per failure in a row up to the longest.
    static constexpr platform::TimeInterval firstRetryDelay = 1.0;
    static constexpr platform::TimeInterval longestRetryDelay = 30.0;
    // A refusal that may pass: taken as final only when it answers twice in a row.
    static constexpr std::int64_t forbiddenStatus = 403;

    // A new request in preload mode; it serves what the cache already holds at once.
    // `cache` defaults to the process's player cache.
    static std::shared_ptr<PNVideoLoaderRequest> make(
        PNVideoPtr video, std::vector<PNVideoLoaderRequestListenerPtr> listeners,
        std::shared_ptr<PNPlayerCache> cache = nullptr);

    PNVideoLoaderRequest(const PNVideoLoaderRequest&) = delete;
    PNVideoLoaderRequest& operator=(const PNVideoLoaderRequest&) = delete;

    void setDelegate(std::weak_ptr<PNVideoLoaderRequestDelegate> delegate);

    // Begins downloading when the cache does not hold what is needed.
    void start();
    void addListener(PNVideoLoaderRequestListenerPtr listener,
                     std::function<void()> completion = nullptr);
    // Drops every listener whose id equals the given one's.
    void removeListener(const PNVideoLoaderRequestListenerPtr& listener);
    // Switches the mode; the completion (on the request's queue) gets true when it changed.
    // Starts or stops no download by itself.
    void setPreload(bool isPreload, std::function<void(bool changed)> completion = nullptr);
    // Cancels every running download; their completions still arrive, but once it returns
    // none of them writes to the cache (a chunk being written is waited for).
    void cancel();
    ~PNVideoLoaderRequest();

    const PNVideoPtr& video() const { return video_; }
    std::optional<platform::URL> url() const;
    std::optional<PNVideoResolution> resolution() const;
    bool isCached() const;
    bool isRequesting() const;
    bool isCompleted() const;
    bool isPreload() const;
    // Whether a failed download keeps the request from being started again for now.
    bool isHeldBack() const;
    std::vector<PNVideoLoaderRequestListenerPtr> listeners() const;
    // The ranges of the running downloads.
    std::vector<PNByteRange> runningRanges() const;

    // Whether `added` is a candidate for merging into the listed need `listed`.
    static bool checkRangesOverlap(PNByteRange listed, PNByteRange added);
    // The end (exclusive) up to which `range` must be loaded.
    std::int64_t rangeEnd(PNByteRange range, std::optional<std::int64_t> size) const;
    // The part of `range` still to load from `from`.
    PNByteRange buildRange(PNByteRange range, std::int64_t from) const;

    struct Private {
        explicit Private() = default;
    };
    PNVideoLoaderRequest(Private, PNVideoPtr video,
                         std::vector<PNVideoLoaderRequestListenerPtr> listeners,
                         std::shared_ptr<PNPlayerCache> cache);

  private:
    struct Download;
    struct Running {
        PNByteRange range;
        PNCancellablePtr token;
    };

    void updateRequestParams();
    void sendPreloaded();
    void updateListeners(std::vector<PNVideoLoaderRequestListenerPtr> listeners);
    void updateRequests();
    // REQUIRES: downloadLock_.
    PNCancellablePtr startDownload(PNByteRange range);
    void didReceive(const std::shared_ptr<Download>& download, const platform::SharedData& chunk,
                    std::int64_t total);
    void didComplete(const std::shared_ptr<Download>& download, std::int64_t total,
                     const std::optional<platform::Error>& error);
    void completeAll(const std::optional<platform::Error>& error);
    // Whether a download's failure without a byte is the server's last word on the file.
    bool isRefusal(const platform::Error& error) const;
    struct LocalFile {
        std::string path;
        std::int64_t size;
    };
    // The recording of the video on this device, when it has one.
    std::optional<LocalFile> localFile() const;
    void log(const std::string& message) const;
    PNByteRange primaryRange() const;

    const PNVideoPtr video_;
    const std::shared_ptr<PNPlayerCache> cache_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    // Held while downloads are kept, cancelled and started; taken before mutex_.
    std::mutex downloadLock_;

    platform::WeakDelegate<PNVideoLoaderRequestDelegate> delegate_;

    mutable std::mutex mutex_;
    std::vector<PNVideoLoaderRequestListenerPtr> listeners_;  // guarded by mutex_
    std::vector<Running> requests_;                           // guarded by mutex_
    std::optional<PNVideoResolution> resolution_;             // guarded by mutex_
    std::optional<platform::URL> url_;                        // guarded by mutex_
    bool isCached_ = false;                                   // guarded by mutex_
    bool isRequesting_ = false;                               // guarded by mutex_
    bool isCompleted_ = false;                                // guarded by mutex_
    bool isPreload_ = true;                                   // guarded by mutex_
    int failuresInARow_ = 0;                                  // guarded by mutex_
    // The status of the last download that failed without a byte, when it had one.
    std::optional<std::int64_t> lastFailedStatus_;  // guarded by mutex_
    // The server refused the file for good: nothing is downloaded until a new read asks.
    bool refused_ = false;  // guarded by mutex_
    // Uptime before which a start would only fail again; none when not held back.
    std::optional<platform::Clock::Duration> retryAt_;  // guarded by mutex_
};

// "{location, length}", the form ranges take in log lines.
std::string describe(PNByteRange range);

}  // namespace pindle
