// LoadImageSubscription: one caller's interest in an image the loader is downloading. Every
// subscription hangs on the LoadImageOperation that serves its URL (several subscriptions
// may share one) and keeps it alive; cancelIt() detaches the caller, whose callback then
// does not run unless it is already running.
//
// Subscriptions compare by identity (they are handed out as shared pointers).
//
// Thread-safety: all operations are safe from any thread. The callback runs at most once,
// on the thread the operation delivers its result on (the loader's URL session queue).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "PindleCore/model/PNCancellable.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"

namespace pindle {

class LoadImageOperation;

class LoadImageSubscription : public PNCancellable,
                              public std::enable_shared_from_this<LoadImageSubscription> {
  public:
    // Receives the image, or null when it could not be loaded.
    using Callback = std::function<void(platform::ImagePtr)>;

    LoadImageSubscription(platform::URL url, Callback callback);
    LoadImageSubscription(const LoadImageSubscription&) = delete;
    LoadImageSubscription& operator=(const LoadImageSubscription&) = delete;

    const platform::URL& url() const { return url_; }
    std::shared_ptr<LoadImageOperation> operation() const;
    void setOperation(std::shared_ptr<LoadImageOperation> operation);

    void cancelIt() override;
    bool isCancelled() const { return cancelled_.load(); }

    // Internal to the loader: runs the callback with `image`, unless the subscription was
    // cancelled or has been served already.
    void deliver(const platform::ImagePtr& image);

  private:
    const platform::URL url_;
    const Callback callback_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> delivered_{false};

    mutable std::mutex mutex_;
    std::shared_ptr<LoadImageOperation> operation_;  // guarded by mutex_
};

using LoadImageSubscriptionPtr = std::shared_ptr<LoadImageSubscription>;

}  // namespace pindle
