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
// Budgets. The folder is held to `cacheSize`: a new file or an append that takes the folder
// over it removes the files changed longest ago (never the one just written), and no single
// file grows past the budget. The memory store (used only when the folder cannot be made) is
// held to the same budget, dropping the URLs used longest ago. Thumbnails are kept for at most
// `thumbnailsKept` videos, and a memory warning drops them with the memory store.
//
// Appends keep the file open between chunks (for up to `openAppendersKept` files at once) and
// look at the volume's free space once per `freeSpaceCheckInterval` bytes offered, not per
// chunk; the same look notices a file removed behind the cache's back.
//
// Processes that share the folder: an append to an existing file checks the file's end and
// writes while holding the file's advisory lock, so two processes' appends never interleave
// (the later one is refused as not continuing the file); a trim holds ".trim.lock", and a write
// of the sizes file holds ".sizes.lock" and keeps the totals another process added since this
// one last read or wrote it.
//
// Thread-safety: safe from any thread. The cache's state (settings, totals, memory store,
// thumbnails, open appenders) is guarded by one mutex that is never held across file work or
// while calling out. File work on one cache file is serialised by a lock of that file's own
// (one of a fixed set, chosen by the file's name), so an append's offset check and its write
// are one step; the folder's byte count is kept per file under the same lock, so that a trim
// measuring the folder never loses a write made meanwhile. Lock order: a trim or the sizes
// file's writer, then its lock file, then a file's lock, then that file's advisory lock, then
// the state mutex; never two files' locks at once.
// preload's completion runs on the downloader's callback queue (on the caller's thread, before
// preload returns, when the video has no address to load); thumbnails are made on a global queue.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"

namespace pindle {

class PNPlayerCache : public std::enable_shared_from_this<PNPlayerCache> {
  public:
    static constexpr std::int64_t defaultCacheSize = 104857600;
    static constexpr double minimumPreloadingThreshold = 2.0;
    static constexpr std::int64_t moovSizeCoef = 1000;
    // Appends to an existing file stop while the volume has this much free space or less.
    static constexpr std::uint64_t minimumFreeSpace = 314572799;
    // Bytes offered to appends between two looks at the volume's free space.
    static constexpr std::uint64_t freeSpaceCheckInterval = 4 << 20;
    static constexpr std::size_t openAppendersKept = 4;
    static constexpr std::size_t thumbnailsKept = 64;
    static constexpr std::size_t sizesKeptThroughMemoryWarning = 500;
    static constexpr const char* cacheDir = "pinlet-cache";
    static constexpr const char* sizesFileName = "sizes";

    struct Options {
        // The folder that holds "pinlet-cache"; the application's Documents when empty.
        std::string documentsDirectory;
        // Seams for the file system (the free-space override acts out a full disk).
        platform::FileManager::Options files;
        // Makes the first-frame picture of a media file; the images loader's when empty.
        std::function<platform::ImagePtr(const platform::URL& file)> thumbnailOfVideo;
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
    // than the budget is not stored; other files make room for it.
    void putData(const platform::URL& url, const platform::Data& data);
    // Appends `data`, which starts at byte `dataOffset` of the file; refused unless the
    // offset is the cached size. Bytes past the known total or the budget are dropped.
    void appendData(const platform::URL& url, const platform::Data& data, std::int64_t dataOffset);
    // The cached bytes [from, to), fewer when the cache holds fewer; nothing when they cannot
    // be read.
    std::optional<platform::Data> data(const platform::URL& url, std::int64_t from,
                                       std::int64_t to);
    // The cached byte count of `url`; nothing when nothing is cached.
    std::optional<std::int64_t> dataSize(const platform::URL& url);
    // Removes the cached bytes of `url`; its known total stays.
    void clearCacheFor(const platform::URL& url);
    // Makes the JPEG thumbnail of a preloaded video from its cached file on a global queue:
    // one attempt per cached file (a file replaced or removed may be tried again).
    void prepareThumb(const std::string& videoID, const platform::URL& url);
    std::optional<platform::Data> thumbData(const std::string& videoID);

    // The known total length of `url`'s file.
    std::optional<std::int64_t> knownSize(const platform::URL& url);
    // Records the total length of `url`'s file and writes the sizes file. A total of 0 or
    // less is ignored: it would make a later reader take the file for empty.
    void recordSize(const platform::URL& url, std::int64_t total);

    // Bytes [from, to) of the file at `path`, fewer when the file is shorter; nothing (and
    // `error`, when asked for) when it cannot be read. Never allocates more than the file
    // holds.
    static std::optional<platform::Data> readFile(const std::string& path, std::int64_t from,
                                                  std::int64_t to,
                                                  platform::Error* error = nullptr);

    bool isFileCacheEnabled() const;
    // Where the bytes of `url` are kept in file mode: the address with every '/' and ':' made
    // '_', through PNSafePath; nothing for an address too long to name a file, which is then
    // not cached at all.
    std::optional<std::string> cacheFilePath(const platform::URL& url) const;
    std::string cacheFolder() const { return folder_; }

    // A test seam that acts out a slow disk: called on the working thread, with a cache
    // file's lock held, each time the cache looks at that file's size (size look-ups and
    // appends do). Empty: nothing is called.
    void setFileWorkHookForTesting(std::function<void(const std::string& path)> hook);

    struct Private {
        explicit Private() = default;
    };
    PNPlayerCache(Private, Options options);

  private:
    struct Appender;
    struct Stored {
        platform::Data bytes;
        std::uint64_t lastUse = 0;
    };

    void start();
    std::optional<PNVideoResolution> getResolutionToLoad(const PNVideo& video) const;
    void createCacheDir();
    void storeSizes();
    std::map<std::string, std::int64_t> loadSizes() const;
    // How many of `count` bytes placed at `offset` may be kept: none past the known total,
    // and, `withinBudget`, none that would take the file past the budget.
    std::size_t acceptedBytes(const platform::URL& url, std::int64_t offset, std::size_t count,
                              bool withinBudget);
    std::mutex& fileLock(const std::string& path) const;
    // The size of the file at `path`, nothing when there is none. REQUIRES: its file lock.
    std::optional<std::int64_t> fileSize(const std::string& path);
    // REQUIRES: the file lock of `path`.
    void appendToFile(const std::string& path, const platform::Data& bytes, std::int64_t cached,
                      const std::optional<std::int64_t>& total);
    // Whether the volume has room for appends. Looks at it (and at whether the open appender
    // of `path` still has its file) once per freeSpaceCheckInterval bytes offered; between
    // looks, the last answer holds. REQUIRES: the file lock of `path`.
    bool lookAtVolumeWhenDue(std::uint64_t offered, const std::string& path);
    // Removes one file of the folder with its open appender; true when it is gone.
    bool removeCacheFile(const std::string& path);
    // Records that the file at `path` now holds `size` bytes (none: it is gone), and moves
    // the folder's count by the difference. REQUIRES: lock_, and the file lock of `path`.
    void countFileLocked(const std::string& path, std::optional<std::int64_t> size);
    // Forgets what the cache knows of the file at `path` (its appender, its thumbnail attempt).
    void forgetFile(const std::string& path);
    // Removes the files changed longest ago, never `keep`, until the folder plus `newBytes`
    // fits the budget. Measures the folder (each file under its own lock) only when its
    // count says it may not fit, or is not known yet.
    void trimFolder(std::int64_t newBytes, const std::optional<std::string>& keep);
    // REQUIRES: lock_. Drops the URLs of the memory store used longest ago, never `keep`,
    // until `newBytes` more fit the budget.
    void makeRoomInMemory(std::int64_t newBytes, const std::string& keep);
    void storeThumb(const std::string& videoID, platform::Data jpeg);

    const std::string documents_;
    const std::string folder_;
    const std::string sizesFile_;
    const platform::FileManager fileManager_;
    const std::function<platform::ImagePtr(const platform::URL&)> thumbnailOfVideo_;
    PNLogger logger_;

    static constexpr std::size_t fileLockCount = 16;
    mutable std::array<std::mutex, fileLockCount> fileLocks_;
    // One trim at a time; taken before a file lock.
    std::mutex trimMutex_;
    // Orders the writes of the sizes file, so that the last one holds the latest totals.
    std::mutex sizesFileMutex_;
    // A leaf: held only to copy the hook, which is called without it.
    std::mutex fileWorkHookMutex_;
    std::function<void(const std::string&)> fileWorkHook_;  // guarded by fileWorkHookMutex_

    mutable std::mutex lock_;
    std::int64_t cacheSize_ = defaultCacheSize;                     // guarded by lock_
    double videoPreloadingThreshold_ = minimumPreloadingThreshold;  // guarded by lock_
    bool isFileCacheEnabled_ = false;                               // guarded by lock_
    std::map<std::string, std::int64_t> sizes_;                     // guarded by lock_
    // The totals as this process last read or wrote the sizes file: what differs there now
    // another process wrote.
    std::map<std::string, std::int64_t> sizesOnDisk_;  // guarded by lock_
    // The memory store, its byte count and the clock of its uses.
    std::map<std::string, Stored> memoryStore_;  // guarded by lock_
    std::int64_t memoryBytes_ = 0;               // guarded by lock_
    std::uint64_t uses_ = 0;                     // guarded by lock_
    // Open files being appended to, by path.
    std::map<std::string, std::shared_ptr<Appender>> appenders_;  // guarded by lock_
    // The size of each file of the folder as last written, removed or measured (each under
    // the file's lock), with the stamp of that moment; the folder's byte count is their sum,
    // unknown until the first trim has measured the folder.
    struct CountedFile {
        std::int64_t size = 0;
        std::uint64_t stamp = 0;
    };
    std::map<std::string, CountedFile> countedFiles_;  // guarded by lock_
    std::uint64_t countStamp_ = 0;                     // guarded by lock_
    std::optional<std::int64_t> folderBytes_;          // guarded by lock_
    // Bytes offered to appends since the volume was last looked at; none before the first look.
    std::optional<std::uint64_t> offeredSinceSpaceCheck_;  // guarded by lock_
    bool lowOnSpace_ = false;                              // guarded by lock_
    std::map<std::string, Stored> thumbs_;                 // guarded by lock_
    // Cache files whose thumbnail was tried.
    std::set<std::string> thumbAttempts_;  // guarded by lock_
};

}  // namespace pindle
