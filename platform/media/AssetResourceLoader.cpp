#include "platform/media/AssetResourceLoader.hpp"

#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

void AssetResourceLoader::setDelegate(std::weak_ptr<AssetResourceLoaderDelegate> delegate,
                                      std::shared_ptr<Executor> queue) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
}

std::shared_ptr<AssetResourceLoaderDelegate> AssetResourceLoader::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

std::shared_ptr<Executor> AssetResourceLoader::delegateQueue() const {
    std::lock_guard lock(mutex_);
    return queue_;
}

bool AssetResourceLoader::startLoading(const AssetResourceLoadingRequestPtr& request) {
    std::weak_ptr<AssetResourceLoaderDelegate> weakDelegate;
    std::shared_ptr<Executor> queue;
    {
        std::lock_guard lock(mutex_);
        weakDelegate = delegate_;
        queue = queue_;
    }
    if (!queue || weakDelegate.expired())
        return false;
    queue->async(weakly(weakDelegate, [self = shared_from_this(),
                                       request](AssetResourceLoaderDelegate& delegate) {
        if (request->isCancelled())
            return;
        if (!delegate.shouldWaitForLoadingOfRequestedResource(*self, request))
            request->finishLoading(MediaError::make(MediaError::operationNotSupportedForAsset,
                                                    "The resource loader declined the request"));
    }));
    return true;
}

void AssetResourceLoader::cancelLoading(const AssetResourceLoadingRequestPtr& request) {
    if (!request->cancel())
        return;
    std::weak_ptr<AssetResourceLoaderDelegate> weakDelegate;
    std::shared_ptr<Executor> queue;
    {
        std::lock_guard lock(mutex_);
        weakDelegate = delegate_;
        queue = queue_;
    }
    if (!queue)
        return;
    queue->async(weakly(
        weakDelegate, [self = shared_from_this(), request](AssetResourceLoaderDelegate& delegate) {
            delegate.didCancelLoadingRequest(*self, request);
        }));
}

}  // namespace pindle::platform
