#include "PindleCore/caches/PNImageCache.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/app/Application.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

namespace {

using Entry = std::shared_ptr<PNCachedImage>;

// The map's entries, least recently used first.
std::vector<Entry> byStamp(const std::unordered_map<platform::URL, Entry>& map) {
    std::vector<Entry> entries;
    entries.reserve(map.size());
    for (const auto& [url, entry] : map) entries.push_back(entry);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a->timestamp() < b->timestamp(); });
    return entries;
}

}  // namespace

PNImageCache& PNImageCache::instance() {
    static auto* cache = new PNImageCache;
    return *cache;
}

PNImageCache::PNImageCache() {
    platform::NotificationCenter::defaultCenter().addObserver(
        this, std::string(platform::Application::didReceiveMemoryWarningNotification), nullptr,
        [this](const platform::Notification&) { didReceiveMemoryWarning(); });
}

PNImageCache::~PNImageCache() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

platform::ImagePtr PNImageCache::image(const platform::URL& url) {
    std::lock_guard lock(mutex_);
    const auto found = cacheMap_.find(url);
    if (found == cacheMap_.end())
        return nullptr;
    incrementTimeStampLocked();
    found->second->setTimestamp(lastTimeStamp_);
    return found->second->image();
}

void PNImageCache::cache(platform::ImagePtr image, const platform::URL& url) {
    if (!image)
        return;
    std::lock_guard lock(mutex_);
    Entry entry;
    if (const auto found = cacheMap_.find(url); found != cacheMap_.end())
        entry = found->second;
    else
        entry = std::make_shared<PNCachedImage>(std::move(image), lastTimeStamp_);
    incrementTimeStampLocked();
    entry->setTimestamp(lastTimeStamp_);
    checkAndMakeCacheShorterLocked();
    cacheMap_[url] = std::move(entry);
}

void PNImageCache::didReceiveMemoryWarning() {
    std::lock_guard lock(mutex_);
    cacheMap_.clear();
}

std::unordered_map<platform::URL, PNCachedImage> PNImageCache::cacheMap() const {
    std::lock_guard lock(mutex_);
    std::unordered_map<platform::URL, PNCachedImage> copy;
    for (const auto& [url, entry] : cacheMap_) copy.emplace(url, *entry);
    return copy;
}

std::size_t PNImageCache::count() const {
    std::lock_guard lock(mutex_);
    return cacheMap_.size();
}

std::int64_t PNImageCache::lastTimeStamp() const {
    std::lock_guard lock(mutex_);
    return lastTimeStamp_;
}

void PNImageCache::setLastTimeStamp(std::int64_t timeStamp) {
    std::lock_guard lock(mutex_);
    lastTimeStamp_ = timeStamp;
}

void PNImageCache::incrementTimeStampLocked() {
    if (lastTimeStamp_ < std::numeric_limits<std::int64_t>::max()) {
        ++lastTimeStamp_;
        return;
    }
    // The counter is spent: renumber the live entries 0..n-1 in order of use, so the
    // caller's stamp n is again above all of them.
    std::int64_t next = 0;
    for (const auto& entry : byStamp(cacheMap_)) entry->setTimestamp(next++);
    lastTimeStamp_ = next;
}

void PNImageCache::checkAndMakeCacheShorterLocked() {
    if (cacheMap_.size() != limit)
        return;
    const auto oldest = byStamp(cacheMap_);
    std::erase_if(cacheMap_, [&](const auto& item) {
        const auto end = oldest.begin() + static_cast<std::ptrdiff_t>(evictionCount);
        return std::find(oldest.begin(), end, item.second) != end;
    });
}

}  // namespace pindle
