// AssetResourceLoader: the bridge through which a player item gets the bytes of an asset
// whose URL has a scheme of the host's own. The asset owns it; the host sets a delegate and
// the queue it is called on, and the item hands each loading request to that delegate.
//
// The delegate is held weakly: once it is gone no request reaches anyone and the item waits.
//
// Thread-safety: all operations are safe from any thread. Delegate calls arrive on the queue
// given to setDelegate.
#pragma once

#include <memory>
#include <mutex>

#include "platform/foundation/Executor.hpp"
#include "platform/media/AssetResourceLoaderDelegate.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"

namespace pindle::platform {

class AssetResourceLoader : public std::enable_shared_from_this<AssetResourceLoader> {
  public:
    AssetResourceLoader() = default;
    AssetResourceLoader(const AssetResourceLoader&) = delete;
    AssetResourceLoader& operator=(const AssetResourceLoader&) = delete;

    void setDelegate(std::weak_ptr<AssetResourceLoaderDelegate> delegate,
                     std::shared_ptr<Executor> queue);
    std::shared_ptr<AssetResourceLoaderDelegate> delegate() const;
    std::shared_ptr<Executor> delegateQueue() const;

    // The player's side. Hands `request` to the delegate on its queue; a delegate that
    // declines finishes it with an error. False when there is no delegate.
    bool startLoading(const AssetResourceLoadingRequestPtr& request);
    // Cancels an open request and tells the delegate on its queue; nothing for an ended one.
    void cancelLoading(const AssetResourceLoadingRequestPtr& request);

  private:
    mutable std::mutex mutex_;
    // by hand: set together with its queue, which the pair's one lock keeps matched
    std::weak_ptr<AssetResourceLoaderDelegate> delegate_;  // guarded by mutex_
    std::shared_ptr<Executor> queue_;                      // guarded by mutex_
};

}  // namespace pindle::platform
