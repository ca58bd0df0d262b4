#include "PindleCore/caches/PNImagesLoader.hpp"

#include "PindleCore/caches/LoadImageOperation.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/media/AssetImageGenerator.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle {

namespace {

constexpr std::int32_t thumbnailTimescale = 1000;

}  // namespace

PNImagesLoader& PNImagesLoader::shared() {
    static auto* loader =
        new PNImagesLoader(PNImageCache::instance(), platform::URLSession::shared());
    return *loader;
}

PNImagesLoader::PNImagesLoader(PNImageCache& cache, std::shared_ptr<platform::URLSession> session)
    : cache_(cache),
      session_(std::move(session)),
      operationQueue_(platform::OperationQueue::create()) {}

platform::OperationQueuePtr PNImagesLoader::operationQueue() const {
    std::lock_guard lock(mutex_);
    return operationQueue_;
}

void PNImagesLoader::setOperationQueue(platform::OperationQueuePtr queue) {
    std::lock_guard lock(mutex_);
    operationQueue_ = std::move(queue);
}

LoadImageSubscriptionPtr PNImagesLoader::image(const platform::URL& url, Callback callback) {
    platform::ImagePtr cached;
    {
        std::lock_guard lock(mutex_);
        operationQueue_->setMaxConcurrentOperationCount(maxConcurrentDownloads);
        cached = cache_.image(url);
        if (!cached) {
            for (const auto& queued : operationQueue_->operations()) {
                auto running = std::dynamic_pointer_cast<LoadImageOperation>(queued);
                if (!running || running->requestUrl() != url || running->isFinished())
                    continue;
                auto subscription = std::make_shared<LoadImageSubscription>(url, callback);
                subscription->setOperation(running);
                if (running->add(subscription))
                    return subscription;
                // That download has just handed out its result: whatever it brought is in
                // the cache by now; without it, this caller gets a download of its own.
                cached = cache_.image(url);
                break;
            }
        }
        if (!cached) {
            auto operation = std::make_shared<LoadImageOperation>(url, cache_, session_);
            auto subscription = std::make_shared<LoadImageSubscription>(url, std::move(callback));
            subscription->setOperation(operation);
            operation->add(subscription);
            operationQueue_->addOperation(operation);
            return subscription;
        }
    }
    if (callback)
        callback(cached);
    return nullptr;
}

platform::ImagePtr PNImagesLoader::cachedImage(const platform::URL& url) {
    std::lock_guard lock(mutex_);
    return cache_.image(url);
}

platform::ImagePtr PNImagesLoader::thumbOfVideo(const platform::URL& url) {
    if (auto cached = cachedImage(url))
        return cached;
    std::lock_guard extraction(extractionMutex_);
    platform::AssetImageGenerator generator(platform::URLAsset::make(url));
    generator.setAppliesPreferredTrackTransform(true);
    return generator.copyImageAtTime(platform::MediaTime::make(0, thumbnailTimescale));
}

}  // namespace pindle
