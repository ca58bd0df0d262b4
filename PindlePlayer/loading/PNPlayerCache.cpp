#include "PindlePlayer/loading/PNPlayerCache.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "PindleCore/api/PNDownloader.hpp"
#include "PindleCore/caches/PNImagesLoader.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "PindlePlayer/loading/private/PNCachingDownload.hpp"
#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileHandle.hpp"
#include "platform/files/FileLock.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/log/SystemLog.hpp"
#include "platform/log/SystemLogMessage.hpp"

namespace pindle {

namespace {

constexpr double thumbnailQuality = 0.5;
constexpr std::uint64_t largestSizesFile = 16 * 1024 * 1024;
constexpr const char* systemLogSender = "PindlePlayer";
constexpr const char* systemLogFacility = "local.pindle.pinlet";
constexpr std::int64_t bytesPerKilobyte = 1024;
const PNVideoResolution allResolutions[] = {PNVideoResolution::r720p, PNVideoResolution::r540p,
                                            PNVideoResolution::r360p};

std::string escapedName(const platform::URL& url) {
    std::string name = url.absoluteString();
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '/' || c == ':'; }, '_');
    return name;
}

// Lock files of the processes that share the folder; hidden, so never listed as cache files.
constexpr const char* trimLockName = ".trim.lock";
constexpr const char* sizesLockName = ".sizes.lock";

// Thumbnail attempts remembered before the list starts over.
constexpr std::size_t thumbAttemptsKept = 1024;

}  // namespace

// A cache file kept open between appends.
struct PNPlayerCache::Appender {
    std::shared_ptr<platform::FileHandle> handle;  // used under the file's lock
    // The file's size: the cached byte count.
    std::int64_t size = 0;      // guarded by the file's lock
    std::uint64_t lastUse = 0;  // guarded by lock_
};

const std::shared_ptr<PNPlayerCache>& PNPlayerCache::shared() {
    // Never released: download callbacks may still reach it while the process exits.
    static auto* cache = new std::shared_ptr<PNPlayerCache>(make());
    return *cache;
}

std::shared_ptr<PNPlayerCache> PNPlayerCache::make(Options options) {
    auto cache = std::make_shared<PNPlayerCache>(Private{}, std::move(options));
    cache->start();
    return cache;
}

PNPlayerCache::PNPlayerCache(Private, Options options)
    : documents_(options.documentsDirectory.empty() ? platform::AppContainer::documentsDirectory()
                                                    : options.documentsDirectory),
      folder_(documents_ + "/" + cacheDir),
      sizesFile_(folder_ + "/" + sizesFileName),
      fileManager_(std::move(options.files)),
      thumbnailOfVideo_(options.thumbnailOfVideo
                            ? std::move(options.thumbnailOfVideo)
                            : [](const platform::URL&
                                     file) { return PNImagesLoader::shared().thumbOfVideo(file); }),
      logger_(PNLoggerType::VDCH) {}

PNPlayerCache::~PNPlayerCache() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void PNPlayerCache::start() {
    // Not shared with anyone yet: the folder is examined without the lock.
    bool isDirectory = false;
    if (fileManager_.fileExists(folder_, &isDirectory) && isDirectory) {
        isFileCacheEnabled_ = true;
    } else {
        createCacheDir();
    }
    if (isFileCacheEnabled_) {
        sizes_ = loadSizes();
        sizesOnDisk_ = sizes_;
    }
    platform::NotificationCenter::defaultCenter().addObserver(
        this, std::string(platform::Application::didReceiveMemoryWarningNotification), nullptr,
        platform::weakly(this, [](PNPlayerCache& cache, const platform::Notification&) {
            cache.didReceiveMemoryWarning();
        }));
}

void PNPlayerCache::createCacheDir() {
    isFileCacheEnabled_ = true;
    // Documents itself may not exist yet in a fresh container; the cache folder is made
    // only when nothing of its name is there.
    fileManager_.createDirectory(documents_, true).ignoreError();
    if (platform::Status status = fileManager_.createDirectory(folder_, false); !status.ok()) {
        platform::SystemLogMessage message;
        message.set(platform::SystemLogMessage::keyMessage,
                    "Unable to create directory " + status.error().description());
        platform::SystemLog::shared().send(std::move(message), systemLogSender, systemLogFacility);
        isFileCacheEnabled_ = false;
    }
}

std::map<std::string, std::int64_t> PNPlayerCache::loadSizes() const {
    std::map<std::string, std::int64_t> sizes;
    // A sizes file this large was not written by us: leave it unread rather than take it in.
    const auto attributes = fileManager_.attributesOfItem(sizesFile_);
    if (!attributes || attributes->size > largestSizesFile)
        return sizes;
    auto contents = fileManager_.contentsOfFile(sizesFile_);
    if (!contents)
        return sizes;
    auto json = platform::Json::parse(*contents);
    const platform::Dictionary* root = json ? json->asDictionary() : nullptr;
    const auto found = root ? root->find("data") : platform::Dictionary::const_iterator{};
    if (!root || found == root->end() || !found->second.asDictionary())
        return sizes;
    for (const auto& [key, value] : *found->second.asDictionary()) {
        const auto total = value.asWholeNumber();
        if (!total || !platform::URL::fromString(key))
            break;
        if (*total > 0)
            sizes[key] = *total;
    }
    return sizes;
}

// --- Settings ---

std::int64_t PNPlayerCache::cacheSize() const {
    std::lock_guard lock(lock_);
    return cacheSize_;
}

void PNPlayerCache::setCacheSize(std::int64_t bytes) {
    {
        std::lock_guard lock(lock_);
        cacheSize_ = bytes;
        makeRoomInMemory(0, std::string());
    }
    trimFolder(0, std::nullopt);
}

double PNPlayerCache::videoPreloadingThreshold() const {
    std::lock_guard lock(lock_);
    return videoPreloadingThreshold_;
}

void PNPlayerCache::setVideoPreloadingThreshold(double seconds) {
    std::lock_guard lock(lock_);
    videoPreloadingThreshold_ = std::max(seconds, minimumPreloadingThreshold);
}

std::int64_t PNPlayerCache::videoBytesPerSecond(PNVideoResolution resolution) const {
    switch (resolution) {
        case PNVideoResolution::r720p:
            return 384000;
        case PNVideoResolution::r540p:
            return 281600;
        case PNVideoResolution::r360p:
            return 128000;
    }
    return 384000;
}

std::int64_t PNPlayerCache::preloadLimit(std::int64_t size, PNVideoResolution resolution) const {
    const std::int64_t bps = videoBytesPerSecond(resolution);
    const std::int64_t header = size / bps * moovSizeCoef;
    const double threshold = videoPreloadingThreshold();
    // A threshold too large for the arithmetic asks for the whole file.
    const double playback = std::trunc(threshold) * static_cast<double>(bps);
    if (!(playback < static_cast<double>(std::numeric_limits<std::int64_t>::max() / 2)))
        return size;
    return std::min(header + static_cast<std::int64_t>(playback), size);
}

// --- Resolutions ---

std::optional<PNVideoResolution> PNPlayerCache::getResolutionToLoad(const PNVideo& video) const {
    const PNVideoResolution first = PNThroughputManager::shared().resolution();
    if (video.mp4URL(first))
        return first;
    for (PNVideoResolution resolution : allResolutions) {
        if (video.mp4URL(resolution))
            return resolution;
    }
    return std::nullopt;
}

std::optional<PNVideoResolution> PNPlayerCache::getClosestPreloadedResolution(
    const PNVideo& video) {
    for (PNVideoResolution resolution : allResolutions) {
        const auto url = video.mp4URL(resolution);
        if (!url)
            continue;
        const auto total = knownSize(*url);
        const auto cached = total ? dataSize(*url) : std::nullopt;
        if (!cached || !total)
            continue;
        if (preloadLimit(*total, resolution) <= *cached || (*cached == *total && *total > 0))
            return resolution;
    }
    return std::nullopt;
}

bool PNPlayerCache::isPreloaded(const PNVideo& video) {
    const auto resolution = getClosestPreloadedResolution(video);
    if (!resolution)
        return false;
    const auto url = video.mp4URL(*resolution);
    if (!url)
        return false;
    const std::int64_t cached = dataSize(*url).value_or(0);
    const std::int64_t total = knownSize(*url).value_or(0);
    return total >= 1 && (cached == total || cached >= preloadLimit(total, *resolution));
}

// --- Preload ---

PNCancellablePtr PNPlayerCache::preload(const PNVideoPtr& video, PreloadCompletion completion) {
    const auto resolution = video ? getResolutionToLoad(*video) : std::nullopt;
    const auto url = resolution ? video->mp4URL(*resolution) : std::nullopt;
    if (!url) {
        completion(false, PNError(PNError::noPlayableURL).toPlatformError());
        return nullptr;
    }
    // Shared by the download's callbacks, which never overlap.
    auto cached = std::make_shared<std::int64_t>(dataSize(*url).value_or(0));
    auto download = std::make_shared<PNCachingDownload>();
    const std::string videoID = video->videoID();
    download->setTransfer(PNDownloader::data(
        *url, PNByteRange{*cached, -1},
        platform::weakly(
            this,
            [url = *url, resolution = *resolution, cached, download](
                PNPlayerCache& self, const platform::SharedData& chunk, std::int64_t total) {
                if (!download->write([&] { self.appendData(url, *chunk, *cached); }))
                    return;
                *cached += static_cast<std::int64_t>(chunk->size());
                // A reply without a length has no limit to stop at: it runs to its end.
                if (total > 0 && *cached >= self.preloadLimit(total, resolution))
                    download->stopTransfer();
            }),
        platform::weakly(this, [url = *url, resolution = *resolution, cached, videoID, download,
                                completion = std::move(completion)](
                                   PNPlayerCache& self, std::int64_t total,
                                   const std::optional<platform::Error>& error) {
            // A reply without a length that ran to its end brought the whole file, if the
            // cache holds all of it.
            std::int64_t length = total;
            if (length <= 0 && !error && *cached > 0 && self.dataSize(url) == *cached)
                length = *cached;
            const bool reachedLimit =
                length > 0 && *cached >= self.preloadLimit(length, resolution);
            // Only a reply that delivered the file (or was cut short) tells its length; an
            // error page's length is not the file's. A download the host cancelled records
            // nothing more.
            if (!error || isCancelled(*error))
                download->write([&] { self.recordSize(url, length); });
            if (!error || reachedLimit) {
                if (reachedLimit)
                    self.prepareThumb(videoID, url);
                completion(reachedLimit, std::nullopt);
            } else {
                completion(false, std::nullopt);
            }
        })));
    return download;
}

// --- Sizes ---

std::optional<std::int64_t> PNPlayerCache::knownSize(const platform::URL& url) {
    std::lock_guard lock(lock_);
    auto found = sizes_.find(url.absoluteString());
    if (found == sizes_.end())
        return std::nullopt;
    return found->second;
}

void PNPlayerCache::recordSize(const platform::URL& url, std::int64_t total) {
    if (total <= 0)
        return;
    {
        std::lock_guard lock(lock_);
        sizes_[url.absoluteString()] = total;
    }
    storeSizes();
}

void PNPlayerCache::storeSizes() {
    std::lock_guard writing(sizesFileMutex_);
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_)
            return;
    }
    // Other processes that share the folder write it too: the file is read again under the
    // lock file, and what they added since this process last read or wrote it is kept.
    const auto locked = platform::FileLock::acquire(folder_ + "/" + sizesLockName);
    const std::map<std::string, std::int64_t> onDisk = loadSizes();
    std::optional<platform::Data> json;
    std::map<std::string, std::int64_t> written;
    {
        // Taken after the previous write ended: what is written is never older than it.
        std::lock_guard lock(lock_);
        for (const auto& [url, total] : onDisk) {
            const auto known = sizesOnDisk_.find(url);
            if (known == sizesOnDisk_.end() || known->second != total)
                sizes_.emplace(url, total);
        }
        platform::Dictionary entries;
        for (const auto& [url, total] : sizes_) entries[url] = platform::Value(total);
        json = platform::Json::serializeToData(platform::Dictionary{{"data", entries}});
        written = sizes_;
    }
    if (!json)
        return;
    // The sizes file lies in the folder and counts towards its budget.
    std::lock_guard file(fileLock(sizesFile_));
    if (fileManager_.writeAtomically(sizesFile_, *json).ok()) {
        std::lock_guard lock(lock_);
        countFileLocked(sizesFile_, static_cast<std::int64_t>(json->size()));
        sizesOnDisk_ = std::move(written);
    }
}

std::size_t PNPlayerCache::acceptedBytes(const platform::URL& url, std::int64_t offset,
                                         std::size_t count, bool withinBudget) {
    std::int64_t end = offset + static_cast<std::int64_t>(count);
    {
        std::lock_guard lock(lock_);
        if (withinBudget)
            end = std::min(end, cacheSize_);
        if (auto total = sizes_.find(url.absoluteString()); total != sizes_.end())
            end = std::min(end, total->second);
    }
    return static_cast<std::size_t>(std::max<std::int64_t>(end - offset, 0));
}

// --- Bytes ---

std::optional<std::string> PNPlayerCache::cacheFilePath(const platform::URL& url) const {
    return PNSafePath::inFolder(folder_, escapedName(url));
}

bool PNPlayerCache::isFileCacheEnabled() const {
    std::lock_guard lock(lock_);
    return isFileCacheEnabled_;
}

std::mutex& PNPlayerCache::fileLock(const std::string& path) const {
    return fileLocks_[std::hash<std::string>{}(path) % fileLockCount];
}

void PNPlayerCache::setFileWorkHookForTesting(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(fileWorkHookMutex_);
    fileWorkHook_ = std::move(hook);
}

std::optional<std::int64_t> PNPlayerCache::fileSize(const std::string& path) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(fileWorkHookMutex_);
        hook = fileWorkHook_;
    }
    if (hook)
        hook(path);
    {
        std::lock_guard lock(lock_);
        if (auto open = appenders_.find(path); open != appenders_.end())
            return open->second->size;
    }
    const auto attributes = fileManager_.attributesOfItem(path);
    if (!attributes || !attributes->isRegularFile())
        return std::nullopt;
    return static_cast<std::int64_t>(attributes->size);
}

void PNPlayerCache::putData(const platform::URL& url, const platform::Data& data) {
    const std::size_t accepted = acceptedBytes(url, 0, data.size(), false);
    const platform::Data bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(accepted));
    const bool bigger = static_cast<std::int64_t>(accepted) > cacheSize();
    std::optional<std::string> path;
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_) {
            if (bigger)
                return;
            const std::string key = url.absoluteString();
            if (auto old = memoryStore_.find(key); old != memoryStore_.end()) {
                memoryBytes_ -= static_cast<std::int64_t>(old->second.bytes.size());
                memoryStore_.erase(old);
            }
            makeRoomInMemory(static_cast<std::int64_t>(bytes.size()), key);
            memoryStore_[key] = Stored{bytes, ++uses_};
            memoryBytes_ += static_cast<std::int64_t>(bytes.size());
            return;
        }
    }
    path = cacheFilePath(url);
    if (!path || bigger)
        return;
    {
        std::lock_guard file(fileLock(*path));
        forgetFile(*path);
        if (platform::Status status = fileManager_.writeAtomically(*path, bytes); !status.ok()) {
            logger_.log("cache_file_error_" + status.error().description());
            return;
        }
        std::lock_guard lock(lock_);
        countFileLocked(*path, static_cast<std::int64_t>(bytes.size()));
    }
    trimFolder(0, path);
}

void PNPlayerCache::appendData(const platform::URL& url, const platform::Data& data,
                               std::int64_t dataOffset) {
    const auto refuse = [&](std::int64_t cached) {
        logger_.log("append_data_incorrect_offset_" + std::to_string(dataOffset) + "_actual_" +
                    std::to_string(cached));
    };
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_) {
            const std::string key = url.absoluteString();
            auto found = memoryStore_.find(key);
            const auto cached = found == memoryStore_.end()
                                    ? 0
                                    : static_cast<std::int64_t>(found->second.bytes.size());
            if (dataOffset != cached)
                return refuse(cached);
            std::int64_t end =
                std::min(cacheSize_, dataOffset + static_cast<std::int64_t>(data.size()));
            if (auto total = sizes_.find(key); total != sizes_.end())
                end = std::min(end, total->second);
            const auto accepted = std::max<std::int64_t>(end - dataOffset, 0);
            if (accepted == 0 && found != memoryStore_.end())
                return;
            makeRoomInMemory(accepted, key);
            auto& stored = memoryStore_[key];
            stored.bytes.insert(stored.bytes.end(), data.begin(), data.begin() + accepted);
            stored.lastUse = ++uses_;
            memoryBytes_ += accepted;
            return;
        }
    }
    const auto path = cacheFilePath(url);
    if (!path)
        return;
    {
        std::lock_guard file(fileLock(*path));
        const bool room = lookAtVolumeWhenDue(data.size(), *path);
        const auto cached = fileSize(*path);
        if (dataOffset != cached.value_or(0))
            return refuse(cached.value_or(0));
        const std::size_t accepted = acceptedBytes(url, dataOffset, data.size(), true);
        if (accepted == 0 && cached)
            return;
        // The chunk itself when it is taken whole, as it nearly always is.
        std::optional<platform::Data> head;
        if (accepted < data.size())
            head.emplace(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(accepted));
        const platform::Data& bytes = head ? *head : data;
        if (!cached) {
            if (platform::Status status = fileManager_.writeAtomically(*path, bytes);
                !status.ok()) {
                logger_.log("cache_file_error_" + status.error().description());
                return;
            }
            std::lock_guard lock(lock_);
            countFileLocked(*path, static_cast<std::int64_t>(bytes.size()));
        } else {
            // The volume guards appends only; a new file is bounded by the budget.
            if (!room) {
                logger_.log("lack_of_free_space");
                return;
            }
            appendToFile(*path, bytes, *cached, knownSize(url));
        }
    }
    trimFolder(0, path);
}

void PNPlayerCache::appendToFile(const std::string& path, const platform::Data& bytes,
                                 std::int64_t cached, const std::optional<std::int64_t>& total) {
    std::shared_ptr<Appender> appender;
    {
        std::lock_guard lock(lock_);
        if (auto open = appenders_.find(path); open != appenders_.end())
            appender = open->second;
    }
    if (!appender) {
        platform::Error error;
        auto handle = platform::FileHandle::open(path, platform::FileHandle::Mode::appending,
                                                 platform::FileHandle::Creation::mustExist, &error);
        if (!handle) {
            logger_.log("append_data_error_" + error.description());
            return;
        }
        appender = std::make_shared<Appender>(Appender{std::move(handle), cached, 0});
        std::lock_guard lock(lock_);
        if (appenders_.size() >= openAppendersKept) {
            // The file appended to longest ago is closed; it is opened again when needed.
            auto oldest = std::min_element(
                appenders_.begin(), appenders_.end(),
                [](const auto& a, const auto& b) { return a.second->lastUse < b.second->lastUse; });
            appenders_.erase(oldest);
        }
        appenders_[path] = appender;
    }
    // Another process that shares the folder may append to the same file: the file's own
    // advisory lock makes the look at its end and the write one step across processes too.
    if (const platform::Status locked =
            appender->handle->lock(platform::FileHandle::LockKind::exclusive);
        !locked.ok()) {
        logger_.log("append_data_error_" + locked.error().description());
        return;
    }
    struct Unlocks {
        platform::FileHandle& handle;
        ~Unlocks() { handle.unlock().ignoreError(); }
    } unlocks{*appender->handle};
    const auto actual = appender->handle->size();
    if (actual && static_cast<std::int64_t>(*actual) != cached) {
        logger_.log("append_data_incorrect_offset_" + std::to_string(cached) + "_actual_" +
                    std::to_string(*actual));
        appender->size = static_cast<std::int64_t>(*actual);
        std::lock_guard lock(lock_);
        countFileLocked(path, appender->size);
        return;
    }
    if (const platform::Status written = appender->handle->write(bytes); !written.ok()) {
        logger_.log("append_data_error_" + written.error().description());
        // A short write would leave bytes the sizes cannot vouch for: keep what was whole.
        appender->handle->truncate(static_cast<std::uint64_t>(cached)).ignoreError();
        std::lock_guard lock(lock_);
        appenders_.erase(path);
        return;
    }
    appender->size = cached + static_cast<std::int64_t>(bytes.size());
    std::lock_guard lock(lock_);
    appender->lastUse = ++uses_;
    countFileLocked(path, appender->size);
    // A whole file takes no more appends: its descriptor is given back.
    if (total && appender->size >= *total)
        appenders_.erase(path);
}

bool PNPlayerCache::lookAtVolumeWhenDue(std::uint64_t offered, const std::string& path) {
    {
        std::lock_guard lock(lock_);
        if (offeredSinceSpaceCheck_ &&
            *offeredSinceSpaceCheck_ + offered < freeSpaceCheckInterval) {
            *offeredSinceSpaceCheck_ += offered;
            return !lowOnSpace_;
        }
        offeredSinceSpaceCheck_ = 0;
    }
    const auto space = fileManager_.freeSpace(documents_);
    // No answer: go on, as with room to spare.
    const bool low = space && *space <= minimumFreeSpace;
    std::shared_ptr<Appender> appender;
    {
        std::lock_guard lock(lock_);
        lowOnSpace_ = low;
        if (auto open = appenders_.find(path); open != appenders_.end())
            appender = open->second;
    }
    // An appender whose file was removed behind the cache's back writes into nothing, and
    // its size no longer tells the cached one: the file is looked at afresh.
    if (appender && !appender->handle->isStillAtPath()) {
        std::lock_guard lock(lock_);
        appenders_.erase(path);
    }
    return !low;
}

std::optional<platform::Data> PNPlayerCache::data(const platform::URL& url, std::int64_t from,
                                                  std::int64_t to) {
    if (from < 0 || to < from)
        return std::nullopt;
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_) {
            auto found = memoryStore_.find(url.absoluteString());
            if (found == memoryStore_.end())
                return std::nullopt;
            found->second.lastUse = ++uses_;
            const auto& stored = found->second.bytes;
            const auto size = static_cast<std::int64_t>(stored.size());
            return platform::Data(stored.begin() + std::min(from, size),
                                  stored.begin() + std::min(to, size));
        }
    }
    const auto path = cacheFilePath(url);
    if (!path)
        return std::nullopt;
    platform::Error error;
    auto bytes = readFile(*path, from, to, &error);
    if (!bytes)
        logger_.log("read_data_error_" + error.description());
    return bytes;
}

std::optional<platform::Data> PNPlayerCache::readFile(const std::string& path, std::int64_t from,
                                                      std::int64_t to, platform::Error* error) {
    if (from < 0 || to < from)
        return std::nullopt;
    auto file = platform::FileHandle::open(path, platform::FileHandle::Mode::reading,
                                           platform::FileHandle::Creation::mustExist, error);
    if (!file)
        return std::nullopt;
    const auto size = file->size(error);
    if (!size)
        return std::nullopt;
    const std::int64_t end = std::min<std::int64_t>(to, static_cast<std::int64_t>(*size));
    if (end <= from)
        return platform::Data();
    return file->read(static_cast<std::uint64_t>(from), static_cast<std::size_t>(end - from),
                      error);
}

std::optional<std::int64_t> PNPlayerCache::dataSize(const platform::URL& url) {
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_) {
            auto found = memoryStore_.find(url.absoluteString());
            if (found == memoryStore_.end())
                return std::nullopt;
            return static_cast<std::int64_t>(found->second.bytes.size());
        }
    }
    const auto path = cacheFilePath(url);
    if (!path)
        return std::nullopt;
    std::lock_guard file(fileLock(*path));
    return fileSize(*path);
}

// --- Clearing ---

void PNPlayerCache::forgetFile(const std::string& path) {
    std::lock_guard lock(lock_);
    appenders_.erase(path);
    thumbAttempts_.erase(path);
}

void PNPlayerCache::countFileLocked(const std::string& path, std::optional<std::int64_t> size) {
    std::int64_t before = 0;
    if (auto counted = countedFiles_.find(path); counted != countedFiles_.end()) {
        before = counted->second.size;
        if (!size)
            countedFiles_.erase(counted);
    }
    if (size)
        countedFiles_.insert_or_assign(path, CountedFile{*size, ++countStamp_});
    if (folderBytes_)
        *folderBytes_ += size.value_or(0) - before;
}

bool PNPlayerCache::removeCacheFile(const std::string& path) {
    std::lock_guard file(fileLock(path));
    forgetFile(path);
    const platform::Status removalError = fileManager_.removeItem(path);
    const bool removed = removalError.ok();
    if (removed) {
        std::lock_guard lock(lock_);
        countFileLocked(path, std::nullopt);
    }
    return removed;
}

void PNPlayerCache::trimFolder(std::int64_t newBytes, const std::optional<std::string>& keep) {
    const auto fits = [&] {
        std::lock_guard lock(lock_);
        return folderBytes_ && *folderBytes_ + newBytes <= cacheSize_;
    };
    if (!isFileCacheEnabled() || fits())
        return;
    std::lock_guard trimming(trimMutex_);
    // Another trim may have made the room meanwhile.
    if (fits())
        return;
    // One trim at a time among the processes that share the folder, too.
    const auto trimmingHere = platform::FileLock::acquire(folder_ + "/" + trimLockName);
    std::uint64_t scanStart = 0;
    {
        std::lock_guard lock(lock_);
        scanStart = countStamp_;
    }
    auto names = fileManager_.contentsOfDirectory(folder_);
    if (!names)
        return;
    struct Entry {
        std::string path;
        platform::Date modified;
    };
    std::vector<Entry> entries;
    std::set<std::string> listed;
    for (const std::string& name : *names) {
        if (name.empty() || name[0] == '.')
            continue;
        const std::string path = folder_ + "/" + name;
        // Measured under the file's lock: a write to the file lands either before the measure
        // or after it, and then counts itself. The count is never put back to a size the
        // file has left.
        std::lock_guard file(fileLock(path));
        const auto attributes = fileManager_.attributesOfItem(path);
        {
            std::lock_guard lock(lock_);
            countFileLocked(path, attributes
                                      ? std::optional(static_cast<std::int64_t>(attributes->size))
                                      : std::nullopt);
        }
        entries.push_back({path, attributes ? attributes->modificationDate : platform::Date()});
        listed.insert(path);
    }
    bool over = false;
    {
        std::lock_guard lock(lock_);
        // What the listing did not show and nothing has written since it began is gone.
        std::erase_if(countedFiles_, [&](const auto& counted) {
            return counted.second.stamp <= scanStart && !listed.count(counted.first);
        });
        std::int64_t total = 0;
        for (const auto& [path, counted] : countedFiles_) total += counted.size;
        folderBytes_ = total;
        over = total + newBytes > cacheSize_;
    }
    if (!over)
        return;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.modified < b.modified; });
    for (const Entry& entry : entries) {
        {
            std::lock_guard lock(lock_);
            if (*folderBytes_ + newBytes < cacheSize_)
                break;
        }
        if (entry.path != keep)
            removeCacheFile(entry.path);
    }
}

void PNPlayerCache::makeRoomInMemory(std::int64_t newBytes, const std::string& keep) {
    while (memoryBytes_ + newBytes > cacheSize_) {
        auto oldest = memoryStore_.end();
        for (auto it = memoryStore_.begin(); it != memoryStore_.end(); ++it) {
            if (it->first != keep &&
                (oldest == memoryStore_.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        }
        if (oldest == memoryStore_.end())
            return;
        memoryBytes_ -= static_cast<std::int64_t>(oldest->second.bytes.size());
        memoryStore_.erase(oldest);
    }
}

void PNPlayerCache::clearCacheFor(const platform::URL& url) {
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_) {
            if (auto found = memoryStore_.find(url.absoluteString()); found != memoryStore_.end()) {
                memoryBytes_ -= static_cast<std::int64_t>(found->second.bytes.size());
                memoryStore_.erase(found);
            }
            return;
        }
    }
    if (auto path = cacheFilePath(url))
        removeCacheFile(*path);
}

void PNPlayerCache::clearCacheFor(const PNVideo& video) {
    for (PNVideoResolution resolution : allResolutions) {
        if (auto url = video.mp4URL(resolution))
            clearCacheFor(*url);
    }
    std::lock_guard lock(lock_);
    thumbs_.erase(video.videoID());
}

void PNPlayerCache::clearCache() {
    bool fileMode = false;
    {
        std::lock_guard lock(lock_);
        fileMode = isFileCacheEnabled_;
        memoryStore_.clear();
        memoryBytes_ = 0;
        sizes_.clear();
    }
    if (!fileMode)
        return;
    if (auto names = fileManager_.contentsOfDirectory(folder_)) {
        for (const std::string& name : *names) {
            if (!name.empty() && name[0] != '.')
                removeCacheFile(folder_ + "/" + name);
        }
    }
    {
        std::lock_guard writing(sizesFileMutex_);
        const auto locked = platform::FileLock::acquire(folder_ + "/" + sizesLockName);
        fileManager_.removeItem(sizesFile_).ignoreError();
    }
    std::lock_guard lock(lock_);
    sizesOnDisk_.clear();
    // Measured again at the next write.
    folderBytes_.reset();
}

void PNPlayerCache::didReceiveMemoryWarning() {
    std::size_t remaining = 0;
    {
        std::lock_guard lock(lock_);
        if (sizes_.size() > sizesKeptThroughMemoryWarning)
            sizes_.clear();
        memoryStore_.clear();
        memoryBytes_ = 0;
        thumbs_.clear();
        thumbAttempts_.clear();
        remaining = sizes_.size();
    }
    logger_.log("did_receive_memory_warning__sizes_" + std::to_string(remaining));
}

// --- Thumbnails ---

void PNPlayerCache::prepareThumb(const std::string& videoID, const platform::URL& url) {
    const auto path = cacheFilePath(url);
    if (!path)
        return;
    {
        std::lock_guard lock(lock_);
        if (!isFileCacheEnabled_ || thumbs_.count(videoID) || thumbAttempts_.count(*path))
            return;
        if (thumbAttempts_.size() >= thumbAttemptsKept)
            thumbAttempts_.clear();
        thumbAttempts_.insert(*path);
    }
    platform::DispatchQueue::global()->async(
        platform::weakly(this, [videoID, path = *path](PNPlayerCache& self) {
            const platform::ImagePtr image =
                self.thumbnailOfVideo_(platform::URL::fileURLWithPath(path));
            if (!image)
                return;
            auto jpeg = image->jpegData(thumbnailQuality);
            if (!jpeg)
                return;
            const auto kilobytes = static_cast<std::int64_t>(jpeg->size()) / bytesPerKilobyte;
            self.storeThumb(videoID, std::move(*jpeg));
            self.logger_.log("thumb_prepare_" + videoID + "_" + std::to_string(kilobytes) + "_kb");
        }));
}

void PNPlayerCache::storeThumb(const std::string& videoID, platform::Data jpeg) {
    std::lock_guard lock(lock_);
    if (!thumbs_.count(videoID) && thumbs_.size() >= thumbnailsKept) {
        auto oldest = std::min_element(
            thumbs_.begin(), thumbs_.end(),
            [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
        thumbs_.erase(oldest);
    }
    thumbs_[videoID] = Stored{std::move(jpeg), ++uses_};
}

std::optional<platform::Data> PNPlayerCache::thumbData(const std::string& videoID) {
    std::lock_guard lock(lock_);
    auto found = thumbs_.find(videoID);
    if (found == thumbs_.end())
        return std::nullopt;
    found->second.lastUse = ++uses_;
    return found->second.bytes;
}

}  // namespace pindle
