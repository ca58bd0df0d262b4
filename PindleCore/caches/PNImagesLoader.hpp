// PNImagesLoader: hands out images by URL, from the image cache when it can and otherwise
// by downloading them, so that each image is downloaded once and then served from memory.
// Requests for one URL that overlap in time share one download (a LoadImageOperation on
// the loader's operation queue, at most `maxConcurrentDownloads` running at once); each
// caller gets its own LoadImageSubscription. It also makes still images of a video's first
// frame (thumbOfVideo).
//
// Thread-safety: all operations are safe from any thread. A cached image is handed to the
// callback on the calling thread before image() returns; a downloaded one on the URL
// session's queue (for shared(), the shared URL session's). Callbacks run with no lock of
// the loader held, so they may call the loader again.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "PindleCore/caches/LoadImageSubscription.hpp"
#include "PindleCore/caches/PNImageCache.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"
#include "platform/net/URLSession.hpp"

namespace pindle {

class PNImagesLoader {
  public:
    static constexpr int maxConcurrentDownloads = 5;

    using Callback = LoadImageSubscription::Callback;

    // The process's loader, on the process's image cache and the shared URL session
    // (created on first use, never destroyed).
    static PNImagesLoader& shared();

    // A loader of its own (tests, hosts that want a separate session).
    // REQUIRES: session is not null; cache outlives the loader.
    PNImagesLoader(PNImageCache& cache, std::shared_ptr<platform::URLSession> session);
    PNImagesLoader(const PNImagesLoader&) = delete;
    PNImagesLoader& operator=(const PNImagesLoader&) = delete;

    platform::OperationQueuePtr operationQueue() const;
    // REQUIRES: queue is not null and receives no other operations.
    void setOperationQueue(platform::OperationQueuePtr queue);

    // The image for `url`. When the cache has it, `callback` runs with it before the call
    // returns and the result is null. Otherwise the callback runs later, exactly once, with
    // the image or with null on failure, unless the returned subscription is cancelled
    // first.
    LoadImageSubscriptionPtr image(const platform::URL& url, Callback callback);

    // What the image cache holds for `url` (a hit counts as a use).
    platform::ImagePtr cachedImage(const platform::URL& url);

    // The first frame of the video at `url`, turned as the video asks for display, or null
    // when it cannot be read (the reason is dropped). A cached image of that URL is answered
    // from the cache; extracted frames are not cached. Synchronous; extractions run one at a
    // time, without holding up the loader's other calls.
    platform::ImagePtr thumbOfVideo(const platform::URL& url);

  private:
    PNImageCache& cache_;
    const std::shared_ptr<platform::URLSession> session_;

    mutable std::mutex mutex_;
    platform::OperationQueuePtr operationQueue_;  // guarded by mutex_

    // Held for a whole frame extraction: one decoder at a time.
    std::mutex extractionMutex_;
};

}  // namespace pindle
