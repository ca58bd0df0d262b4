// PNImageCache: decoded images (thumbnails and other pictures fetched by URL) kept in
// memory by URL for the image loader. It holds at most `limit` images; a store that finds
// it full first drops the `evictionCount` least recently used. A lookup hit counts as a
// use. It empties itself when the application posts its memory-warning notification.
// Nothing is written to disk.
//
// Recency is a 64-bit stamp counter. Should it ever reach its largest value, the live
// entries are renumbered from 0 in their order of use and counting goes on above them.
//
// Thread-safety: every operation is safe from any thread and holds the cache's lock from
// start to end; the cache calls nothing outside itself while holding it, so it is always
// the innermost lock. The memory warning is handled on the thread that posts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "PindleCore/caches/PNCachedImage.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"

namespace pindle {

class PNImageCache {
  public:
    static constexpr std::size_t limit = 2000;
    static constexpr std::size_t evictionCount = 10;

    // The process's cache (created on first use, never destroyed).
    static PNImageCache& instance();

    // An empty cache that observes the memory warning until it is destroyed.
    PNImageCache();
    ~PNImageCache();
    PNImageCache(const PNImageCache&) = delete;
    PNImageCache& operator=(const PNImageCache&) = delete;

    // The image cached for `url`, or null; a hit stamps the entry as used now.
    platform::ImagePtr image(const platform::URL& url);
    // Stores `image` under `url`, or, when the URL is cached already, keeps the image it
    // has and only stamps the entry as used now. A null image stores nothing.
    void cache(platform::ImagePtr image, const platform::URL& url);
    // Drops every entry; the stamp counter keeps its value.
    void didReceiveMemoryWarning();

    // A copy of the entries, for inspection.
    std::unordered_map<platform::URL, PNCachedImage> cacheMap() const;
    std::size_t count() const;
    // The stamp handed out last.
    std::int64_t lastTimeStamp() const;
    // Moves the counter (tests use it to reach the renumbering at the counter's end).
    // REQUIRES: timeStamp is at least every stamp held.
    void setLastTimeStamp(std::int64_t timeStamp);

  private:
    void incrementTimeStampLocked();
    void checkAndMakeCacheShorterLocked();

    mutable std::mutex mutex_;
    std::unordered_map<platform::URL, std::shared_ptr<PNCachedImage>>
        cacheMap_;                    // guarded by mutex_
    std::int64_t lastTimeStamp_ = 0;  // guarded by mutex_
};

}  // namespace pindle
