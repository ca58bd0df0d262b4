// LoadImageOperation: one download of an image by URL, shared by every subscription that
// asked for that URL while it was pending or running. It runs on the image loader's
// operation queue: main() starts a GET on the loader's URL session; when the download ends,
// an answer that decodes as an image (whatever the HTTP status) goes into the image cache
// and is handed to every subscription in the order they joined; anything else hands them
// null. Then the operation finishes.
//
// When its last subscription leaves before the result, the operation is cancelled and
// finishes at once: one not yet started never downloads; a download under way runs to its
// end and still fills the image cache, calling nobody back.
//
// Ownership: the operation holds its subscriptions until it has delivered its result; each
// subscription holds its operation.
//
// Thread-safety: all operations are safe from any thread. Callbacks run on the URL
// session's queue, with no lock of the operation held.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "PindleCore/caches/LoadImageSubscription.hpp"
#include "PindleCore/model/PNAsyncOperation.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"
#include "platform/net/URLSession.hpp"

namespace pindle {

class PNImageCache;

class LoadImageOperation : public PNAsyncOperation {
  public:
    LoadImageOperation(platform::URL url, PNImageCache& cache,
                       std::shared_ptr<platform::URLSession> session);

    const platform::URL& requestUrl() const { return requestUrl_; }
    std::vector<LoadImageSubscriptionPtr> subscriptions() const;
    // The download while it runs.
    std::shared_ptr<platform::URLSessionDataTask> dataTask() const;

    // Joins a subscription. False, adding nothing, when the result has already been handed
    // out or the last subscription has left (the operation is being cancelled): the caller
    // must serve that subscription another way.
    bool add(const LoadImageSubscriptionPtr& subscription);
    // Lets a subscription go; when it was the last one and no result has been handed out,
    // cancels the operation.
    void remove(const LoadImageSubscriptionPtr& subscription);

    void main() override;

  private:
    void downloadDidEnd(const std::optional<platform::Data>& data);
    void callCallbacksThenCleanUp(const platform::ImagePtr& image);

    const platform::URL requestUrl_;
    PNImageCache& cache_;
    const std::shared_ptr<platform::URLSession> session_;

    mutable std::mutex mutex_;
    std::vector<LoadImageSubscriptionPtr> subscriptions_;     // guarded by mutex_
    std::shared_ptr<platform::URLSessionDataTask> dataTask_;  // guarded by mutex_
    bool delivered_ = false;                                  // guarded by mutex_
    // The last subscription left before the result: no one may join any more.
    bool closed_ = false;  // guarded by mutex_
};

using LoadImageOperationPtr = std::shared_ptr<LoadImageOperation>;

}  // namespace pindle
