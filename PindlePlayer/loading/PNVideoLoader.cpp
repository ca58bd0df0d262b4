#include "PindlePlayer/loading/PNVideoLoader.hpp"

#include <algorithm>
#include <cctype>
#include <map>

#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace {

constexpr const char* sharedId = "shared";
constexpr std::size_t prefixLength = 6;

// The process-wide table of registered loaders.
struct Registry {
    std::mutex mutex;
    std::map<std::string, PNVideoLoaderPtr> loaders;  // guarded by mutex
};

Registry& registry() {
    // Leaked on purpose: loaders live for the process and may be used by exit-time blocks.
    static auto* table = new Registry();
    return *table;
}

std::string videoIds(const std::vector<std::shared_ptr<PNVideoLoaderRequest>>& requests) {
    std::string text = "[";
    for (std::size_t i = 0; i < requests.size(); ++i)
        text += (i ? ", " : "") + requests[i]->video()->videoID();
    return text + "]";
}

}  // namespace

PNVideoLoaderPtr PNVideoLoader::make(std::shared_ptr<PNPlayerCache> cache) {
    return std::make_shared<PNVideoLoader>(Private{}, sharedId, 1, std::move(cache));
}

PNVideoLoaderPtr PNVideoLoader::make(std::string id, int concurrentRequestCount,
                                     std::shared_ptr<PNPlayerCache> cache) {
    auto loader = std::make_shared<PNVideoLoader>(Private{}, std::move(id), concurrentRequestCount,
                                                  std::move(cache));
    loader->register_();
    return loader;
}

PNVideoLoaderPtr PNVideoLoader::loader(const std::string& id) {
    auto& table = registry();
    std::lock_guard lock(table.mutex);
    const auto it = table.loaders.find(id);
    return it == table.loaders.end() ? nullptr : it->second;
}

void PNVideoLoader::unregister(const PNVideoLoader& loader) {
    PNVideoLoaderPtr removed;
    {
        auto& table = registry();
        std::lock_guard lock(table.mutex);
        const auto it = table.loaders.find(loader.id());
        if (it == table.loaders.end() || it->second.get() != &loader)
            return;
        // Released after the lock: the loader's last owner may be this entry.
        removed = std::move(it->second);
        table.loaders.erase(it);
    }
}

std::size_t PNVideoLoader::loadersCount() {
    auto& table = registry();
    std::lock_guard lock(table.mutex);
    return table.loaders.size();
}

PNVideoLoader::PNVideoLoader(Private, std::string id, int concurrentRequestCount,
                             std::shared_ptr<PNPlayerCache> cache)
    : id_(std::move(id)),
      concurrentRequestCount_(concurrentRequestCount),
      cache_(std::move(cache)),
      queue_(platform::DispatchQueue::create(queueLabel)) {}

void PNVideoLoader::register_() {
    std::string prefix = id_.size() > prefixLength ? id_.substr(id_.size() - prefixLength) : id_;
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    logger_.addPrefix(prefix);
    std::size_t count = 0;
    {
        auto& table = registry();
        std::lock_guard lock(table.mutex);
        table.loaders[id_] = shared_from_this();
        count = table.loaders.size();
    }
    log("new_instance__total_" + std::to_string(count));
}

void PNVideoLoader::log(const std::string& line) {
    logger_.log(line);
}

template <class Work>
void PNVideoLoader::onQueue(Work work) {
    queue_->async(platform::weakly(this, std::move(work)));
}

std::shared_ptr<PNVideoLoaderRequest> PNVideoLoader::requestForLocked(
    const std::string& videoId) const {
    for (const auto& request : requests_)
        if (request->video()->videoID() == videoId)
            return request;
    return nullptr;
}

void PNVideoLoader::setVideosToPreload(std::vector<PNVideoPtr> videos) {
    onQueue([videos = std::move(videos)](PNVideoLoader& self) {
        std::vector<std::shared_ptr<PNVideoLoaderRequest>> old;
        std::vector<std::shared_ptr<PNVideoLoaderListener>> listeners;
        {
            std::lock_guard lock(self.mutex_);
            old = self.requests_;
            listeners = self.listeners_;
        }
        std::vector<std::shared_ptr<PNVideoLoaderRequest>> fresh;
        for (const auto& video : videos) {
            // One request per video, however often it is named.
            const bool named = std::any_of(fresh.begin(), fresh.end(), [&](const auto& request) {
                return request->video()->videoID() == video->videoID();
            });
            if (named)
                continue;
            const auto kept = std::find_if(old.begin(), old.end(), [&](const auto& request) {
                return request->video() == video;
            });
            if (kept != old.end()) {
                fresh.push_back(*kept);
                continue;
            }
            // The reads of the video still open, including those a dropped request served.
            std::vector<PNVideoLoaderRequestListenerPtr> waiting;
            for (const auto& listener : listeners)
                if (listener->videoId() == video->videoID() && listener->isActive())
                    waiting.push_back(listener);
            auto request = PNVideoLoaderRequest::make(video, std::move(waiting), self.cache_);
            request->setDelegate(self.weak_from_this());
            fresh.push_back(std::move(request));
        }
        for (const auto& request : old) {
            const bool named = std::any_of(fresh.begin(), fresh.end(), [&](const auto& kept) {
                return kept->video() == request->video();
            });
            if (named)
                continue;
            self.log("enqueu_cancel_" + request->video()->videoID());
            request->cancel();
        }
        self.log("videos_to_preload_was" + std::to_string(old.size()) + "_" + videoIds(fresh));
        {
            std::lock_guard lock(self.mutex_);
            self.requests_ = std::move(fresh);
            // Reads that finished are of no use to any request.
            std::erase_if(self.listeners_,
                          [](const auto& listener) { return !listener->isActive(); });
        }
        self.enqueueOnQueue();
    });
}

void PNVideoLoader::enqueu() {
    onQueue([](PNVideoLoader& self) { self.enqueueOnQueue(); });
}

void PNVideoLoader::enqueueOnQueue() {
    std::vector<std::shared_ptr<PNVideoLoaderRequest>> full, preload;
    {
        std::lock_guard lock(mutex_);
        for (const auto& request : requests_) {
            if (request->isCompleted())
                continue;
            (request->isPreload() ? preload : full).push_back(request);
        }
    }
    const auto freeSlots = concurrentRequestCount_ - static_cast<int>(full.size());
    const auto shown = std::vector<std::shared_ptr<PNVideoLoaderRequest>>(
        preload.begin(),
        preload.begin() +
            std::clamp<std::ptrdiff_t>(freeSlots, 0, static_cast<std::ptrdiff_t>(preload.size())));
    log("enqueu_conc_" + std::to_string(concurrentRequestCount_) + "_to_load_" +
        std::to_string(full.size() + preload.size()) + "_full_" + videoIds(full) + "_preload_" +
        videoIds(shown));
    // A request held back after a failed download keeps its slot: it is told when to retry.
    for (const auto& request : full)
        if (!request->isRequesting() && !request->isHeldBack())
            request->start();
    int slots = static_cast<int>(full.size());
    for (const auto& request : preload) {
        if (slots < concurrentRequestCount_) {
            if (!request->isRequesting() && !request->isHeldBack())
                request->start();
            ++slots;
        } else if (request->isRequesting()) {
            log("enqueu_cancel_" + request->video()->videoID());
            request->cancel();
        }
    }
}

void PNVideoLoader::setPreload(std::string videoId, bool isPreload) {
    onQueue([videoId = std::move(videoId), isPreload](PNVideoLoader& self) {
        std::shared_ptr<PNVideoLoaderRequest> request;
        {
            std::lock_guard lock(self.mutex_);
            request = self.requestForLocked(videoId);
        }
        if (!request)
            return;
        request->setPreload(isPreload,
                            platform::weakly(&self, [](PNVideoLoader& loader, bool changed) {
                                if (changed)
                                    loader.enqueu();
                            }));
    });
}

void PNVideoLoader::addListener(std::shared_ptr<PNVideoLoaderListener> listener) {
    onQueue([listener = std::move(listener)](PNVideoLoader& self) {
        self.log("add_listener_" + listener->videoId());
        std::shared_ptr<PNVideoLoaderRequest> request;
        {
            std::lock_guard lock(self.mutex_);
            std::erase_if(self.listeners_, [](const auto& known) { return !known->isActive(); });
            self.listeners_.push_back(listener);
            request = self.requestForLocked(listener->videoId());
        }
        if (!request)
            return;
        // Keeps neither alive: the loader may drop the request, or go, before it runs.
        request->addListener(
            listener,
            platform::weakly(&self, platform::weakly(request, [](PNVideoLoaderRequest& added,
                                                                 PNVideoLoader& loader) {
                if (!added.isCompleted() && !added.isRequesting())
                    loader.enqueu();
            })));
    });
}

void PNVideoLoader::removeListener(std::shared_ptr<PNVideoLoaderListener> listener) {
    onQueue([listener = std::move(listener)](PNVideoLoader& self) {
        self.log("remove_listener_" + listener->videoId());
        std::shared_ptr<PNVideoLoaderRequest> request;
        {
            // Only this read: the other reads of its video stay open, and a request made
            // for the video later must still be handed them.
            std::lock_guard lock(self.mutex_);
            std::erase_if(self.listeners_, [&](const auto& registered) {
                return registered->id() == listener->id();
            });
            request = self.requestForLocked(listener->videoId());
        }
        if (request)
            request->removeListener(listener);
    });
}

std::vector<std::shared_ptr<PNVideoLoaderRequest>> PNVideoLoader::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::shared_ptr<PNVideoLoaderListener>> PNVideoLoader::listeners() const {
    std::lock_guard lock(mutex_);
    return listeners_;
}

}  // namespace pindle
