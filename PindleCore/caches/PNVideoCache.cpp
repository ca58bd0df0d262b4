#include "PindleCore/caches/PNVideoCache.hpp"

#include <algorithm>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/caches/private/PNVideoCacheSource.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNNotifiedVideoIDs.hpp"

namespace pindle {

PNVideoCache& PNVideoCache::shared() {
    static PNVideoCache* cache = new PNVideoCache;  // never destroyed
    return *cache;
}

PNVideoCache::PNVideoCache() {
    auto& center = platform::NotificationCenter::defaultCenter();
    auto observe = [&](const char* name,
                       void (PNVideoCache::*handler)(const platform::Notification&)) {
        registrations_.emplace_back(center.addObserverForName(
            name, nullptr, nullptr,
            [this, handler](const platform::Notification& n) { (this->*handler)(n); }));
    };
    observe(NotificationName::PNVideoCreated, &PNVideoCache::handleVideosCreated);
    observe(NotificationName::PNVideoUpdated, &PNVideoCache::handleVideosUpdated);
    observe(NotificationName::PNVideoDeleted, &PNVideoCache::handleVideosDeleted);
}

std::shared_ptr<const PNVideoCache::Map> PNVideoCache::PublishedMap::load() const {
    std::lock_guard lock(mutex_);
    return map_;
}

void PNVideoCache::PublishedMap::store(std::shared_ptr<const Map> map) {
    {
        std::lock_guard lock(mutex_);
        map_.swap(map);
    }
    // The map replaced is let go of here, outside the lock.
}

bool PNVideoCache::PublishedMap::compareExchange(std::shared_ptr<const Map>& expected,
                                                 std::shared_ptr<const Map> desired) {
    std::lock_guard lock(mutex_);
    if (map_ != expected) {
        expected = map_;
        return false;
    }
    map_.swap(desired);
    return true;
}

PNVideoCache::Map PNVideoCache::cache() const {
    return *cache_.load();
}

void PNVideoCache::setCache(Map cache) {
    cache_.store(std::make_shared<const Map>(std::move(cache)));
}

bool PNVideoCache::isHeldByNoReader(const std::shared_ptr<Map>& map) {
    // The copy made and dropped here changes the holders' count with acquire and release, so
    // whatever the last reader did with the map happens before this returns.
    const std::shared_ptr<Map> probe = map;
    return probe.use_count() == 2;
}

bool PNVideoCache::isPublishedHere(const std::shared_ptr<const Map>& map) const {
    return !published_.owner_before(map) && !map.owner_before(published_);
}

void PNVideoCache::changeMap(Change change) {
    std::shared_ptr<const Map> current = cache_.load();
    std::shared_ptr<Map> next;
    if (spare_ && isPublishedHere(current) && isHeldByNoReader(spare_)) {
        next = std::move(spare_);
        spareLag_(*next);
    } else {
        next = std::make_shared<Map>(*current);
    }
    change(*next);
    while (!cache_.compareExchange(current, std::shared_ptr<const Map>(next))) {
        // setCache() published a map meanwhile: the change goes onto that one.
        next = std::make_shared<Map>(*current);
        change(*next);
    }
    // The map just replaced is the spare, one change behind, when it is one this cache made
    // (setCache()'s are never changed in place).
    spare_ = isPublishedHere(current) ? std::const_pointer_cast<Map>(current) : nullptr;
    spareLag_ = spare_ ? std::move(change) : nullptr;
    published_ = next;
}

std::shared_ptr<PNVideo> PNVideoCache::getCachedVideo(const std::string& videoID) const {
    std::lock_guard lock(lock_);
    const std::shared_ptr<const Map> map = cache_.load();
    auto found = map->find(videoID);
    return found == map->end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<PNVideo>> PNVideoCache::getCachedVideos(
    const std::vector<std::string>& videoIDs) const {
    std::lock_guard lock(lock_);
    const std::shared_ptr<const Map> map = cache_.load();
    std::vector<std::shared_ptr<PNVideo>> videos;
    for (const std::string& id : videoIDs) {
        auto found = map->find(id);
        if (found != map->end())
            videos.push_back(found->second);
    }
    return videos;
}

void PNVideoCache::putVideoToCache(const std::shared_ptr<PNVideo>& video) {
    putVideosToCache({video});
}

void PNVideoCache::putVideosToCache(const std::vector<std::shared_ptr<PNVideo>>& videos) {
    if (std::none_of(videos.begin(), videos.end(), [](const auto& video) { return video; }))
        return;
    std::lock_guard lock(lock_);
    changeMap([videos](Map& map) {
        for (const auto& video : videos) {
            if (video)
                map[video->videoID()] = video;
        }
    });
}

void PNVideoCache::deleteVideo(const std::string& videoID) {
    std::lock_guard lock(lock_);
    if (!cache_.load()->count(videoID))
        return;
    changeMap([videoID](Map& map) { map.erase(videoID); });
}

void PNVideoCache::didReceiveMemoryWarning() {
    std::lock_guard lock(lock_);
    spare_ = nullptr;
    spareLag_ = nullptr;
    published_.reset();
    cache_.store(std::make_shared<const Map>());
}

PNCancellablePtr PNVideoCache::getVideo(const std::string& videoID, VideoCompletion completion) {
    std::shared_ptr<PNVideo> video;
    {
        std::lock_guard lock(lock_);
        video = getCachedVideo(videoID);
        if (!video)
            video = PNLocalVideoCache::shared().video(videoID);
    }
    if (video) {
        // Answered with no lock held: the completion may hand work that uses the cache to
        // another thread and wait for it.
        completion(video, std::nullopt);
        return nullptr;
    }
    return PNVideoCacheSource::current()->video(
        videoID,
        [this, videoID, completion = std::move(completion)](
            const std::shared_ptr<PNVideo>& video, const std::optional<platform::Error>& error) {
            if (video)
                putVideoToCache(video);
            completion(getCachedVideo(videoID), error);
        });
}

PNCancellablePtr PNVideoCache::getVideos(const std::vector<std::string>& videoIDs,
                                         VideosCompletion completion) {
    std::vector<std::string> missing;
    std::vector<std::shared_ptr<PNVideo>> cached;
    {
        std::lock_guard lock(lock_);
        const std::shared_ptr<const Map> map = cache_.load();
        for (const std::string& id : videoIDs) {
            if (!map->count(id))
                missing.push_back(id);
        }
        if (missing.empty())
            cached = getCachedVideos(videoIDs);
    }
    if (missing.empty()) {
        completion(std::move(cached));
        return nullptr;
    }
    return PNVideoCacheSource::current()->videosByIds(
        missing, [this, videoIDs, completion = std::move(completion)](
                     const std::shared_ptr<PNVideosResponse>& response,
                     const std::optional<platform::Error>&) {
            if (response)
                putVideosToCache(response->videos());
            completion(getCachedVideos(videoIDs));
        });
}

void PNVideoCache::syncVideo(const std::string& videoID) {
    deleteVideo(videoID);
    getVideo(videoID,
             [](const std::shared_ptr<PNVideo>&, const std::optional<platform::Error>&) {});
}

void PNVideoCache::handleVideosCreated(const platform::Notification& notification) {
    std::lock_guard lock(lock_);
    const platform::Value* id = notification.object.find("videoID");
    if (!id || !id->asString())
        return;
    const std::string videoID = *id->asString();
    const platform::Value* urls = notification.object.find("mp4Url");
    std::shared_ptr<PNVideo> video = getCachedVideo(videoID);
    if (!urls || !urls->isDictionary() || !video) {
        syncVideo(videoID);
        return;
    }
    // Patches are serialised by this cache's lock; readers of the record see the three
    // addresses before or after the patch, never a mix.
    PNVideo::MediaMP4URLs patched = video->mediaMP4URLs();
    auto patch = [&](const char* key, std::optional<platform::URL>& field) {
        const platform::Value* text = urls->find(key);
        if (text && text->asString())
            field = platform::URL::fromString(*text->asString());
    };
    patch("360p", patched.r360p);
    patch("540p", patched.r540p);
    patch("720p", patched.r720p);
    video->setMediaMP4URLs(std::move(patched));
}

void PNVideoCache::handleVideosUpdated(const platform::Notification& notification) {
    for (const std::string& videoID : PNNotifiedVideoIDs::read(notification.object))
        syncVideo(videoID);
}

void PNVideoCache::handleVideosDeleted(const platform::Notification& notification) {
    for (const std::string& videoID : PNNotifiedVideoIDs::read(notification.object))
        deleteVideo(videoID);
}

}  // namespace pindle
