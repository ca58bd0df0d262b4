// PNPlayerCache: the process's byte cache of the MP4 files the players stream. Per media URL
// it keeps the leading bytes downloaded so far (from byte 0, growing only at their end) and
// the file's total length, decides how many leading bytes make a video count as preloaded at
// a resolution, preloads the head of a video, and trims its folder to a byte budget.
//
// The bytes live in "<Documents>/pinlet-cache", one file per URL named after the URL with
// every "/" and ":" turned into "_"; the totals live in the JSON file "sizes" there
// ({"data": {url: total}}), read back at start-up and replaced atomically on every change.
// When that folder cannot be made (a plain file of that name is in the way) the cache keeps
// its bytes in memory for the life of the process.
//
// Guarantees beyond a plain byte store: a total of 0 or less is never recorded; a file
// never grows past its recorded total (bytes beyond it are dropped); an append that does
// not continue the cached bytes exactly is refused.
//
// Thread-safety: safe from any thread. One recursive mutex, lock(), guards the memory
// store, the totals and all file work; the loader request takes it to read and record
// totals together with its own decisions. No callback runs under it. preload's completion
// runs on the downloader's callback queue (on the caller's thread, before preload returns,
// when the video has no address to load); thumbnails are made on a global queue.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Cache.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

class PNPlayerCache : public std::enable_shared_from_this<PNPlayerCache> {
  public:
    static constexpr std::int64_t defaultCacheSize = 104857600;
    static constexpr double minimumPreloadingThreshold = 2.0;
    static constexpr std::int64_t moovSizeCoef = 1000;
    // Appends to an existing file stop while the volume has this much free space or less.
    static constexpr std::uint64_t minimumFreeSpace = 314572799;
    static constexpr std::size_t sizesKeptThroughMemoryWarning = 500;
    static constexpr const char* cacheDir = "pinlet-cache";
    static constexpr const char* sizesFileName = "sizes";

    struct Options {
        // The folder that holds "pinlet-cache"; the application's Documents when empty.
        std::string documentsDirectory;
        // Seams for the file system (the free-space override acts out a full disk).
        platform::FileManager::Options files;
    };

    using PreloadCompletion =
        std::function<void(bool preloaded, const std::optional<platform::Error>& error)>;

    // The process's cache, made on first use in the application's Documents.
    static const std::shared_ptr<PNPlayerCache>& shared();
    // A cache of its own, for tests and tools.
    static std::shared_ptr<PNPlayerCache> make(Options options = {});

    ~PNPlayerCache();
    PNPlayerCache(const PNPlayerCache&) = delete;
    PNPlayerCache& operator=(const PNPlayerCache&) = delete;

    // --- Settings ---

    std::int64_t cacheSize() const;
    // Stores the budget and trims the folder to it.
    void setCacheSize(std::int64_t bytes);
    double videoPreloadingThreshold() const;
    // Stores the larger of `seconds` and 2.
    void setVideoPreloadingThreshold(double seconds);
    // The assumed byte rate of each resolution.
    std::int64_t videoBytesPerSecond(PNVideoResolution resolution) const;

    // --- For the host ---

    // Downloads the head of the video up to its preload limit, at the resolution the
    // throughput suggests (else the first the video has). Gives the download's cancellable
    // (once its cancelIt() returns, the download caches nothing more), or nothing, after
    // completing with (false, PNError 12), when the video has no address.
    PNCancellablePtr preload(const PNVideoPtr& video, PreloadCompletion completion);
    bool isPreloaded(const PNVideo& video);
    void clearCache();
    void clearCacheFor(const PNVideo& video);
    // Drops the memory store, and the totals when they are many. Also run on the platform's
    // memory warning.
    void didReceiveMemoryWarning();

    // --- For the loader request and the players ---

    // The bytes of a file of `size` bytes that make it count as preloaded at `resolution`:
    // a header allowance per second of duration plus the threshold's seconds of playback,
    // never more than the file.
    std::int64_t preloadLimit(std::int64_t size, PNVideoResolution resolution) const;
    // The first of 720p, 540p, 360p whose file is cached up to its preload limit or whole.
    std::optional<PNVideoResolution> getClosestPreloadedResolution(const PNVideo& video);

    // Replaces the cached bytes of `url` with `data` (cut at the known total). A file larger
    // than the budget is not stored.
    void putData(const platform::URL& url, const platform::Data& data);
    // Appends `data`, which starts at byte `dataOffset` of the file; refused unless the
    // offset is the cached size.
    void appendData(const platform::URL& url, const platform::Data& data, std::int64_t dataOffset);
    // The cached bytes [from, to), fewer when the cache holds fewer; nothing when they cannot
    // be read.
    std::optional<platform::Data> data(const platform::URL& url, std::int64_t from,
                                       std::int64_t to);
    // The cached byte count of `url`; nothing when nothing is cached.
    std::optional<std::int64_t> dataSize(const platform::URL& url);
    // Removes the cached bytes of `url`; its known total stays.
    void clearCacheFor(const platform::URL& url);
    // Makes the JPEG thumbnail of a preloaded video from its cached file, once, on a global
    // queue.
    void prepareThumb(const std::string& videoID, const platform::URL& url);
    std::optional<platform::Data> thumbData(const std::string& videoID) const;

    // The known total length of `url`'s file.
    std::optional<std::int64_t> knownSize(const platform::URL& url);
    // Records the total length of `url`'s file and writes the sizes file. A total of 0 or
    // less is ignored: it would make a later reader take the file for empty.
    void recordSize(const platform::URL& url, std::int64_t total);
    // The lock the loader request holds around a read of knownSize and its own decisions.
    std::recursive_mutex& lock() const { return lock_; }

    // Bytes [from, to) of the file at `path`, fewer when the file is shorter; nothing when
    // it cannot be opened. Never allocates more than the file holds.
    static std::optional<platform::Data> readFile(const std::string& path, std::int64_t from,
                                                  std::int64_t to);

    bool isFileCacheEnabled() const;
    // Where the bytes of `url` are kept in file mode: the address with every '/' and ':' made
    // '_', through PNSafePath; nothing for an address too long to name a file, which is then
    // not cached at all.
    std::optional<std::string> cacheFilePath(const platform::URL& url) const;
    std::string cacheFolder() const { return folder_; }

    struct Private {
        explicit Private() = default;
    };
    PNPlayerCache(Private, Options options);

  private:
    void start();
    std::optional<PNVideoResolution> getResolutionToLoad(const PNVideo& video) const;
    void createCacheDir();
    void createCacheFile(const platform::URL& url, const platform::Data& data);
    void clearCacheIfExceeded(std::int64_t newBytes);
    void storeSizes();
    void loadSizes();
    // The part of `data`, placed at `offset`, that lies below the known total.
    std::size_t acceptedBytes(const platform::URL& url, std::int64_t offset, std::size_t count);

    const std::string documents_;
    const std::string folder_;
    const std::string sizesFile_;
    const platform::FileManager fileManager_;
    PNLogger logger_;
    platform::Cache<std::string, platform::Data> thumbsData_;

    mutable std::recursive_mutex lock_;
    std::int64_t cacheSize_ = defaultCacheSize;                     // guarded by lock_
    double videoPreloadingThreshold_ = minimumPreloadingThreshold;  // guarded by lock_
    bool isFileCacheEnabled_ = false;                               // guarded by lock_
    std::map<std::string, platform::Data> datas_;                   // guarded by lock_
    std::map<std::string, std::int64_t> sizes_;                     // guarded by lock_
};

}  // namespace pindle
