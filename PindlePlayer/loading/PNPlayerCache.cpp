#include "PindlePlayer/loading/PNPlayerCache.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "PindleCore/api/PNDownloader.hpp"
#include "PindleCore/caches/PNImagesLoader.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "PindlePlayer/loading/PNCachingDownload.hpp"
#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/WriteAll.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/log/SystemLog.hpp"
#include "platform/log/SystemLogMessage.hpp"
#include "platform/media/Image.hpp"

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

std::string describe(int error) {
    return std::strerror(error);
}

// A plain file descriptor that closes itself.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    const int fd_;
};

}  // namespace

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
      logger_(PNLoggerType::VDCH) {}

PNPlayerCache::~PNPlayerCache() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void PNPlayerCache::start() {
    {
        std::lock_guard lock(lock_);
        bool isDirectory = false;
        if (fileManager_.fileExists(folder_, &isDirectory) && isDirectory) {
            isFileCacheEnabled_ = true;
        } else {
            createCacheDir();
        }
        if (isFileCacheEnabled_)
            loadSizes();
    }
    std::weak_ptr<PNPlayerCache> weak = weak_from_this();
    platform::NotificationCenter::defaultCenter().addObserver(
        this, std::string(platform::Application::didReceiveMemoryWarningNotification), nullptr,
        [weak](const platform::Notification&) {
            if (auto cache = weak.lock())
                cache->didReceiveMemoryWarning();
        });
}

void PNPlayerCache::createCacheDir() {
    isFileCacheEnabled_ = true;
    // Documents itself may not exist yet in a fresh container; the cache folder is made
    // only when nothing of its name is there.
    fileManager_.createDirectory(documents_, true);
    if (auto error = fileManager_.createDirectory(folder_, false)) {
        platform::SystemLogMessage message;
        message.set(platform::SystemLogMessage::keyMessage,
                    "Unable to create directory " + error->description());
        platform::SystemLog::shared().send(std::move(message), systemLogSender, systemLogFacility);
        isFileCacheEnabled_ = false;
    }
}

void PNPlayerCache::loadSizes() {
    // A sizes file this large was not written by us: leave it unread rather than take it in.
    const auto attributes = fileManager_.attributesOfItem(sizesFile_);
    if (!attributes || attributes->size > largestSizesFile)
        return;
    auto contents = fileManager_.contentsOfFile(sizesFile_);
    if (!contents)
        return;
    auto json = platform::Json::parse(*contents);
    const platform::Dictionary* root = json ? json->asDictionary() : nullptr;
    const auto found = root ? root->find("data") : platform::Dictionary::const_iterator{};
    if (!root || found == root->end() || !found->second.asDictionary())
        return;
    for (const auto& [key, value] : *found->second.asDictionary()) {
        const auto total = value.asWholeNumber();
        if (!total || !platform::URL::fromString(key))
            break;
        if (*total > 0)
            sizes_[key] = *total;
    }
}

// --- Settings ---

std::int64_t PNPlayerCache::cacheSize() const {
    std::lock_guard lock(lock_);
    return cacheSize_;
}

void PNPlayerCache::setCacheSize(std::int64_t bytes) {
    std::lock_guard lock(lock_);
    cacheSize_ = bytes;
    clearCacheIfExceeded(0);
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
    std::lock_guard lock(lock_);
    for (PNVideoResolution resolution : allResolutions) {
        const auto url = video.mp4URL(resolution);
        if (!url)
            continue;
        const auto cached = dataSize(*url);
        const auto total = knownSize(*url);
        if (!cached || !total)
            continue;
        if (preloadLimit(*total, resolution) <= *cached || (*cached == *total && *total > 0))
            return resolution;
    }
    return std::nullopt;
}

bool PNPlayerCache::isPreloaded(const PNVideo& video) {
    std::lock_guard lock(lock_);
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
    std::unique_lock lock(lock_);
    const auto resolution = video ? getResolutionToLoad(*video) : std::nullopt;
    const auto url = resolution ? video->mp4URL(*resolution) : std::nullopt;
    if (!url) {
        lock.unlock();
        completion(false, PNError(PNError::noPlayableURL).toPlatformError());
        return nullptr;
    }
    // Shared by the download's callbacks, which never overlap.
    auto cached = std::make_shared<std::int64_t>(dataSize(*url).value_or(0));
    auto download = std::make_shared<PNCachingDownload>();
    std::weak_ptr<PNPlayerCache> weak = weak_from_this();
    const std::string videoID = video->videoID();
    download->setTransfer(PNDownloader::data(
        *url, PNByteRange{*cached, -1},
        [weak, url = *url, resolution = *resolution, cached, download](const platform::Data& chunk,
                                                                       std::int64_t total) {
            auto self = weak.lock();
            if (!self || !download->write([&] { self->appendData(url, chunk, *cached); }))
                return;
            *cached += static_cast<std::int64_t>(chunk.size());
            if (*cached >= self->preloadLimit(total, resolution))
                download->stopTransfer();
        },
        [weak, url = *url, resolution = *resolution, cached, videoID, download,
         completion = std::move(completion)](std::int64_t total,
                                             const std::optional<platform::Error>& error) {
            auto self = weak.lock();
            if (!self)
                return;
            const std::int64_t limit = self->preloadLimit(total, resolution);
            const bool reachedLimit = *cached >= limit;
            // Only a reply that delivered the file (or was cut short) tells its length; an
            // error page's length is not the file's. A download the host cancelled records
            // nothing more.
            if (!error || isCancelled(*error))
                download->write([&] { self->recordSize(url, total); });
            if (!error || reachedLimit) {
                self->prepareThumb(videoID, url);
                completion(reachedLimit, std::nullopt);
            } else {
                completion(false, std::nullopt);
            }
        }));
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
    std::lock_guard lock(lock_);
    sizes_[url.absoluteString()] = total;
    storeSizes();
}

void PNPlayerCache::storeSizes() {
    std::lock_guard lock(lock_);
    if (!isFileCacheEnabled_)
        return;
    platform::Dictionary entries;
    for (const auto& [url, total] : sizes_) entries[url] = platform::Value(total);
    auto json = platform::Json::serializeToData(platform::Dictionary{{"data", entries}});
    if (json)
        fileManager_.writeAtomically(sizesFile_, *json);
}

std::size_t PNPlayerCache::acceptedBytes(const platform::URL& url, std::int64_t offset,
                                         std::size_t count) {
    const auto total = knownSize(url);
    if (!total)
        return count;
    const std::int64_t room = std::max<std::int64_t>(*total - offset, 0);
    return static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(count)));
}

// --- Bytes ---

std::optional<std::string> PNPlayerCache::cacheFilePath(const platform::URL& url) const {
    return PNSafePath::inFolder(folder_, escapedName(url));
}

bool PNPlayerCache::isFileCacheEnabled() const {
    std::lock_guard lock(lock_);
    return isFileCacheEnabled_;
}

void PNPlayerCache::putData(const platform::URL& url, const platform::Data& data) {
    std::lock_guard lock(lock_);
    const std::size_t accepted = acceptedBytes(url, 0, data.size());
    const platform::Data bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(accepted));
    if (isFileCacheEnabled_) {
        createCacheFile(url, bytes);
    } else {
        datas_[url.absoluteString()] = bytes;
    }
}

void PNPlayerCache::appendData(const platform::URL& url, const platform::Data& data,
                               std::int64_t dataOffset) {
    std::lock_guard lock(lock_);
    const auto cached = dataSize(url);
    if (dataOffset != cached.value_or(0)) {
        logger_.log("append_data_incorrect_offset_" + std::to_string(dataOffset) + "_actual_" +
                    std::to_string(cached.value_or(0)));
        return;
    }
    const std::size_t accepted = acceptedBytes(url, dataOffset, data.size());
    if (accepted == 0 && cached)
        return;
    const platform::Data bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(accepted));
    if (!isFileCacheEnabled_) {
        auto& stored = datas_[url.absoluteString()];
        stored.insert(stored.end(), bytes.begin(), bytes.end());
        return;
    }
    const auto path = cacheFilePath(url);
    if (!path)
        return;
    if (!cached) {
        createCacheFile(url, bytes);
        return;
    }
    if (auto space = fileManager_.freeSpace(documents_); space && *space <= minimumFreeSpace) {
        logger_.log("lack_of_free_space");
        return;
    }
    Descriptor file(::open(path->c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!file) {
        logger_.log("append_data_error_" + describe(errno));
        return;
    }
    if (!platform::writeAll(file.get(), bytes.data(), bytes.size())) {
        logger_.log("append_data_error_" + describe(errno));
        // A short write would leave bytes the sizes cannot vouch for: keep what was whole.
        ::ftruncate(file.get(), cached.value_or(0));
    }
}

void PNPlayerCache::createCacheFile(const platform::URL& url, const platform::Data& data) {
    std::lock_guard lock(lock_);
    if (static_cast<std::int64_t>(data.size()) > cacheSize_)
        return;
    const auto path = cacheFilePath(url);
    if (!path)
        return;
    clearCacheIfExceeded(static_cast<std::int64_t>(data.size()));
    if (auto error = fileManager_.writeAtomically(*path, data))
        logger_.log("cache_file_error_" + error->description());
}

std::optional<platform::Data> PNPlayerCache::data(const platform::URL& url, std::int64_t from,
                                                  std::int64_t to) {
    std::lock_guard lock(lock_);
    if (from < 0 || to < from)
        return std::nullopt;
    if (!isFileCacheEnabled_) {
        auto found = datas_.find(url.absoluteString());
        if (found == datas_.end())
            return std::nullopt;
        const auto size = static_cast<std::int64_t>(found->second.size());
        const auto begin = found->second.begin();
        return platform::Data(begin + std::min(from, size), begin + std::min(to, size));
    }
    const auto path = cacheFilePath(url);
    if (!path)
        return std::nullopt;
    auto bytes = readFile(*path, from, to);
    if (!bytes)
        logger_.log("read_data_error_" + describe(errno));
    return bytes;
}

std::optional<platform::Data> PNPlayerCache::readFile(const std::string& path, std::int64_t from,
                                                      std::int64_t to) {
    if (from < 0 || to < from)
        return std::nullopt;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return std::nullopt;
    struct stat status;
    if (::fstat(file.get(), &status) != 0)
        return std::nullopt;
    const std::int64_t end = std::min<std::int64_t>(to, status.st_size);
    platform::Data bytes(static_cast<std::size_t>(std::max<std::int64_t>(end - from, 0)));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::pread(file.get(), bytes.data() + filled, bytes.size() - filled,
                                    from + static_cast<std::int64_t>(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

std::optional<std::int64_t> PNPlayerCache::dataSize(const platform::URL& url) {
    std::lock_guard lock(lock_);
    if (!isFileCacheEnabled_) {
        auto found = datas_.find(url.absoluteString());
        if (found == datas_.end())
            return std::nullopt;
        return static_cast<std::int64_t>(found->second.size());
    }
    const auto path = cacheFilePath(url);
    struct stat status;
    if (!path || ::stat(path->c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(status.st_size);
}

// --- Clearing ---

void PNPlayerCache::clearCacheIfExceeded(std::int64_t newBytes) {
    std::lock_guard lock(lock_);
    auto names = fileManager_.contentsOfDirectory(folder_);
    if (!names)
        return;
    struct Entry {
        std::string path;
        std::int64_t size;
        platform::Date modified;
    };
    std::vector<Entry> entries;
    std::int64_t total = 0;
    for (const std::string& name : *names) {
        if (name.empty() || name[0] == '.')
            continue;
        const std::string path = folder_ + "/" + name;
        const auto attributes = fileManager_.attributesOfItem(path);
        const auto size = attributes ? static_cast<std::int64_t>(attributes->size) : 0;
        entries.push_back(
            {path, size, attributes ? attributes->modificationDate : platform::Date()});
        total += size;
    }
    if (total + newBytes <= cacheSize_)
        return;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.modified < b.modified; });
    for (const Entry& entry : entries) {
        if (total + newBytes < cacheSize_)
            break;
        if (!fileManager_.removeItem(entry.path))
            total -= entry.size;
    }
}

void PNPlayerCache::clearCacheFor(const platform::URL& url) {
    std::lock_guard lock(lock_);
    if (isFileCacheEnabled_) {
        if (auto path = cacheFilePath(url))
            fileManager_.removeItem(*path);
    } else {
        datas_.erase(url.absoluteString());
    }
}

void PNPlayerCache::clearCacheFor(const PNVideo& video) {
    std::lock_guard lock(lock_);
    for (PNVideoResolution resolution : allResolutions) {
        if (auto url = video.mp4URL(resolution))
            clearCacheFor(*url);
    }
    thumbsData_.removeObject(video.videoID());
}

void PNPlayerCache::clearCache() {
    std::lock_guard lock(lock_);
    if (isFileCacheEnabled_) {
        if (auto names = fileManager_.contentsOfDirectory(folder_)) {
            for (const std::string& name : *names) {
                if (!name.empty() && name[0] != '.')
                    fileManager_.removeItem(folder_ + "/" + name);
            }
        }
        fileManager_.removeItem(sizesFile_);
    } else {
        datas_.clear();
    }
    sizes_.clear();
}

void PNPlayerCache::didReceiveMemoryWarning() {
    std::size_t remaining = 0;
    {
        std::lock_guard lock(lock_);
        if (sizes_.size() > sizesKeptThroughMemoryWarning)
            sizes_.clear();
        datas_.clear();
        remaining = sizes_.size();
    }
    logger_.log("did_receive_memory_warning__sizes_" + std::to_string(remaining));
}

// --- Thumbnails ---

void PNPlayerCache::prepareThumb(const std::string& videoID, const platform::URL& url) {
    if (thumbsData_.contains(videoID))
        return;
    std::weak_ptr<PNPlayerCache> weak = weak_from_this();
    platform::DispatchQueue::global()->async([weak, videoID, url] {
        auto self = weak.lock();
        if (!self)
            return;
        const auto path = self->cacheFilePath(url);
        if (!path)
            return;
        const platform::ImagePtr image =
            PNImagesLoader::shared().thumbOfVideo(platform::URL::fileURLWithPath(*path));
        if (!image)
            return;
        auto jpeg = image->jpegData(thumbnailQuality);
        if (!jpeg)
            return;
        const auto kilobytes = static_cast<std::int64_t>(jpeg->size()) / bytesPerKilobyte;
        self->thumbsData_.setObject(std::move(*jpeg), videoID);
        self->logger_.log("thumb_prepare_" + videoID + "_" + std::to_string(kilobytes) + "_kb");
    });
}

std::optional<platform::Data> PNPlayerCache::thumbData(const std::string& videoID) const {
    return thumbsData_.object(videoID);
}

}  // namespace pindle
