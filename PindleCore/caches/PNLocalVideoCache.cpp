#include "PindleCore/caches/PNLocalVideoCache.hpp"

#include <algorithm>
#include <set>

#include "PindleCore/caches/private/PNLocalVideoUploads.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNFileSystemHelper.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

namespace {

constexpr std::size_t resolutionNameLength = 4;

std::optional<platform::URL> fileURL(const std::optional<std::string>& path) {
    if (!path)
        return std::nullopt;
    return platform::URL::fileURLWithPath(*path);
}

// Whether `a` was created strictly later than `b`; a record without a date counts as oldest.
bool createdLater(const PNVideo& a, const PNVideo& b) {
    return a.creationDate() > b.creationDate();
}

}  // namespace

PNLocalVideoCache& PNLocalVideoCache::shared() {
    static auto* cache = new PNLocalVideoCache;
    return *cache;
}

std::vector<PNLocalVideoCache::Entry> PNLocalVideoCache::cache() const {
    std::lock_guard lock(mutex_);
    return cache_;
}

std::int64_t PNLocalVideoCache::limitSize() const {
    std::lock_guard lock(mutex_);
    return limitSize_;
}

void PNLocalVideoCache::setLimitSize(std::int64_t bytes) {
    std::lock_guard lock(mutex_);
    limitSize_ = bytes;
}

void PNLocalVideoCache::resetCache() {
    ++resets_;
    const auto uploads = PNLocalVideoUploads::current();
    // A video that a live process sharing this home carries is that process's: a recording it
    // is handing over, or an upload it has not reported yet.
    const auto removeUnclaimed = [this, &uploads](const std::string& videoID) {
        uploads->whileUnclaimed(videoID, [&] { remove(videoID); });
    };
    for (const auto& videoID : uploads->unfinishedRecordingIDs()) removeUnclaimed(videoID);
    for (const auto& videoID : uploads->uploadedIDs()) removeUnclaimed(videoID);

    // The new index is built aside and swapped in whole, so lookups meanwhile see the former
    // one rather than an empty or half-filled one. Uploaded records are gone by now, so
    // nothing can be evicted while rebuilding.
    std::vector<Entry> rebuilt;
    for (const auto& video : uploads->recordedVideos()) {
        if (!PNSafePath::isSafeIdentifier(video->videoID()))
            continue;
        const std::int64_t size = filesSize(video->videoID());
        if (size < 1) {
            removeUnclaimed(video->videoID());
            continue;
        }
        insertEntry(rebuilt, Entry{video, size});
    }
    std::lock_guard lock(mutex_);
    cache_.swap(rebuilt);
}

std::optional<platform::URL> PNLocalVideoCache::videoLocalMediaURL(
    const std::string& videoID) const {
    if (!video(videoID))
        return std::nullopt;
    const auto& files = platform::FileManager::defaultManager();
    for (auto candidate :
         {pathForCache(videoID, toString(PNVideoResolution::r720p)), pathForMOVVideoCache(videoID)})
        if (candidate && files.fileExists(candidate->path()))
            return candidate;
    return std::nullopt;
}

PNVideoPtr PNLocalVideoCache::video(const std::string& videoID) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : cache_)
        if (entry.video->videoID() == videoID)
            return entry.video;
    return nullptr;
}

void PNLocalVideoCache::add(const PNVideoPtr& video, std::int64_t size) {
    // Read before taking the mutex: the manager's lock is held while its observers run, and
    // they may ask this cache for a video.
    // An uploaded video whose carrier has not reported it yet is not finished for eviction.
    const auto uploads = PNLocalVideoUploads::current();
    std::set<std::string> finished;
    for (const auto& videoID : uploads->uploadedIDs())
        if (!uploads->isClaimed(videoID))
            finished.insert(videoID);
    // Evicted videos are removed whole (files, record, notification) before the new entry goes
    // in; the mutex is released for that, so room is made again until nothing more has to go.
    for (;;) {
        std::vector<std::string> evicted;
        {
            std::lock_guard lock(mutex_);
            evicted = checkSize(size, finished, video->videoID());
            if (evicted.empty()) {
                insertEntry(cache_, Entry{video, size});
                return;
            }
        }
        for (const auto& videoID : evicted) remove(videoID);
    }
}

void PNLocalVideoCache::insertEntry(std::vector<Entry>& index, Entry entry) {
    std::erase_if(index, [&](const Entry& existing) {
        return existing.video->videoID() == entry.video->videoID();
    });
    auto later = std::find_if(index.begin(), index.end(), [&](const Entry& existing) {
        return createdLater(*existing.video, *entry.video);
    });
    index.insert(later, std::move(entry));
}

std::int64_t PNLocalVideoCache::filesSize(const std::string& videoID) const {
    std::int64_t size = 0;
    for (const auto& path : filePaths(videoID))
        size += PNFileSystemHelper::fileSize(platform::URL::fileURLWithPath(path));
    return size;
}

void PNLocalVideoCache::put(const PNVideoPtr& video,
                            const std::shared_ptr<platform::Object>& fromObject) {
    if (!PNTokenObject::itsMe(fromObject)) {
        PLOG_ERROR(PLog_Uploading, "PLog_Uploading put refused: the caller is not the library");
        return;
    }
    if (!PNSafePath::isSafeIdentifier(video->videoID())) {
        PLOG_ERROR(PLog_Uploading, "PLog_Uploading put refused: no file may be named after %s",
                   video->videoID().c_str());
        return;
    }
    const std::int64_t size = filesSize(video->videoID());
    if (size < 1)
        remove(video->videoID());
    else
        add(video, size);
}

std::vector<PNVideoPtr> PNLocalVideoCache::videosByTags(
    const platform::StringSet& tags, const platform::StringDictionary& metadata) const {
    std::vector<PNVideoPtr> result;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : cache_) {
            const auto& videoTags = entry.video->tags();
            if (!std::includes(videoTags.begin(), videoTags.end(), tags.begin(), tags.end()))
                continue;
            const auto videoMetadata = entry.video->metadata();
            const bool matches = std::all_of(metadata.begin(), metadata.end(), [&](const auto& kv) {
                auto it = videoMetadata.find(kv.first);
                return it != videoMetadata.end() && it->second == kv.second;
            });
            if (matches)
                result.push_back(entry.video);
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const auto& a, const auto& b) { return createdLater(*b, *a); });
    return result;
}

void PNLocalVideoCache::removeNonConvertedFile(const std::string& videoID) {
    const auto mov = pathForMOVVideoCache(videoID);
    if (!mov)
        return;
    const std::int64_t size = PNFileSystemHelper::fileSize(*mov);
    platform::FileManager::defaultManager().removeItem(mov->path()).ignoreError();
    std::lock_guard lock(mutex_);
    for (auto& entry : cache_)
        if (entry.video->videoID() == videoID) {
            entry.size -= size;
            break;
        }
}

void PNLocalVideoCache::remove(const std::string& videoID) {
    PNLocalVideoUploads::current()->remove(videoID);
    const auto& files = platform::FileManager::defaultManager();
    for (const auto& path : filePaths(videoID)) files.removeItem(path).ignoreError();
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(cache_.begin(), cache_.end(), [&](const Entry& entry) {
            return entry.video->videoID() == videoID;
        });
        if (it != cache_.end())
            cache_.erase(it);
    }
    platform::NotificationCenter::defaultCenter().post(NotificationName::PNLocalVideoCleanedUp,
                                                       platform::Dictionary{{videoIDKey, videoID}});
}

std::vector<std::string> PNLocalVideoCache::resolutions(const std::string& videoID) const {
    std::vector<std::string> result;
    if (!PNSafePath::isSafeIdentifier(videoID))
        return result;
    auto subpaths = platform::FileManager::defaultManager().subpathsOfDirectory(
        platform::AppContainer::documentsDirectory());
    if (!subpaths)
        return result;
    const std::string prefix = videoID + "_";
    for (const auto& subpath : *subpaths) {
        const auto at = subpath.find(prefix);
        if (at == std::string::npos || subpath.size() - at - prefix.size() < resolutionNameLength)
            continue;
        std::string name = subpath.substr(at + prefix.size(), resolutionNameLength);
        // A name that crosses a folder boundary names no file of this video.
        if (name.find('/') != std::string::npos)
            continue;
        result.push_back(std::move(name));
    }
    return result;
}

std::vector<platform::URL> PNLocalVideoCache::pathesForVideoCache(
    const std::string& videoID) const {
    std::vector<platform::URL> paths;
    for (const auto& resolution : resolutions(videoID))
        if (auto path = pathForCache(videoID, resolution))
            paths.push_back(std::move(*path));
    return paths;
}

std::optional<platform::URL> PNLocalVideoCache::pathForCache(const std::string& videoID,
                                                             const std::string& resolution) const {
    return fileURL(locationForCache(videoID, resolution));
}

std::optional<std::string> PNLocalVideoCache::locationForCache(const std::string& videoID,
                                                               const std::string& resolution) {
    std::string suffix;
    suffix.reserve(resolution.size() + 5);
    suffix += '_';
    suffix += resolution;
    suffix += ".mp4";
    return PNSafePath::forIdentifier(folderPath(), videoID, suffix);
}

std::optional<platform::URL> PNLocalVideoCache::pathForMOVVideoCache(
    const std::string& videoID) const {
    return fileURL(PNSafePath::forIdentifier(folderPath(), videoID, ".mov"));
}

std::string PNLocalVideoCache::folderPath() {
    return platform::AppContainer::documentsPath() + "/" + folderName;
}

std::vector<std::string> PNLocalVideoCache::filePaths(const std::string& videoID) const {
    std::vector<std::string> paths;
    std::set<std::string> seen;
    auto urls = pathesForVideoCache(videoID);
    if (auto mov = pathForMOVVideoCache(videoID))
        urls.push_back(std::move(*mov));
    for (const auto& url : urls)
        if (seen.insert(url.path()).second)
            paths.push_back(url.path());
    return paths;
}

std::vector<std::string> PNLocalVideoCache::checkSize(std::int64_t size,
                                                      const std::set<std::string>& finished,
                                                      const std::string& entering) {
    std::vector<std::string> evicted;
    // The entry being replaced does not count: its new size does.
    auto total = [&] {
        std::int64_t sum = size;
        for (const auto& entry : cache_)
            if (entry.video->videoID() != entering)
                sum += entry.size;
        return sum;
    };
    while (total() > limitSize_) {
        auto oldest = std::find_if(cache_.begin(), cache_.end(), [&](const Entry& entry) {
            return entry.video->videoID() != entering && finished.contains(entry.video->videoID());
        });
        if (oldest == cache_.end())
            break;
        evicted.push_back(oldest->video->videoID());
        cache_.erase(oldest);
    }
    return evicted;
}

}  // namespace pindle
