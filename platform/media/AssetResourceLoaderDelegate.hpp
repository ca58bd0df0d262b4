// AssetResourceLoaderDelegate: the host's side of a resource loader: it is asked for every
// loading request of an asset whose URL has the host's own scheme, and told when the player
// no longer wants one.
//
// Thread-safety: both calls arrive on the queue named with the delegate
// (AssetResourceLoader::setDelegate), one at a time when that queue is serial.
#pragma once

#include <memory>

namespace pindle::platform {

class AssetResourceLoader;
class AssetResourceLoadingRequest;

class AssetResourceLoaderDelegate {
  public:
    virtual ~AssetResourceLoaderDelegate() = default;
    // True when the delegate takes the request and will finish it (at once or later); false
    // ends the request with an error.
    virtual bool shouldWaitForLoadingOfRequestedResource(
        AssetResourceLoader& loader,
        const std::shared_ptr<AssetResourceLoadingRequest>& loadingRequest) = 0;
    // The player gave up the request (a seek elsewhere, too many open requests, a replaced
    // item); the delegate should stop answering it.
    virtual void didCancelLoadingRequest(
        AssetResourceLoader& /*loader*/,
        const std::shared_ptr<AssetResourceLoadingRequest>& /*loadingRequest*/) {}
};

}  // namespace pindle::platform
