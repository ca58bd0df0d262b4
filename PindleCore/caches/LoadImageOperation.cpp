#include "PindleCore/caches/LoadImageOperation.hpp"

#include <algorithm>

#include "PindleCore/caches/PNImageCache.hpp"

namespace pindle {

LoadImageOperation::LoadImageOperation(platform::URL url, PNImageCache& cache,
                                       std::shared_ptr<platform::URLSession> session)
    : requestUrl_(std::move(url)), cache_(cache), session_(std::move(session)) {}

std::vector<LoadImageSubscriptionPtr> LoadImageOperation::subscriptions() const {
    std::lock_guard lock(mutex_);
    return subscriptions_;
}

std::shared_ptr<platform::URLSessionDataTask> LoadImageOperation::dataTask() const {
    std::lock_guard lock(mutex_);
    return dataTask_;
}

bool LoadImageOperation::add(const LoadImageSubscriptionPtr& subscription) {
    std::lock_guard lock(mutex_);
    if (delivered_ || closed_)
        return false;
    subscriptions_.push_back(subscription);
    return true;
}

void LoadImageOperation::remove(const LoadImageSubscriptionPtr& subscription) {
    bool lastLeft = false;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find(subscriptions_.begin(), subscriptions_.end(), subscription);
        if (found == subscriptions_.end())
            return;
        subscriptions_.erase(found);
        lastLeft = subscriptions_.empty() && !delivered_;
        // Closed in the same step, so no request can join between the last one leaving and
        // the cancellation, and wait for a result that never comes.
        if (lastLeft)
            closed_ = true;
    }
    if (lastLeft)
        cancel();
}

void LoadImageOperation::main() {
    if (!setIsExecuting())
        return;
    auto self = std::static_pointer_cast<LoadImageOperation>(shared_from_this());
    auto task = session_->dataTask(requestUrl_, [self](std::optional<platform::Data> data, auto,
                                                       auto) { self->downloadDidEnd(data); });
    {
        std::lock_guard lock(mutex_);
        dataTask_ = task;
    }
    task->resume();
}

void LoadImageOperation::downloadDidEnd(const std::optional<platform::Data>& data) {
    platform::ImagePtr image;
    if (data && !data->empty())
        image = platform::Image::fromData(*data);
    if (image)
        cache_.cache(image, requestUrl_);
    callCallbacksThenCleanUp(image);
    {
        std::lock_guard lock(mutex_);
        dataTask_.reset();
    }
    setIsFinished();
}

void LoadImageOperation::callCallbacksThenCleanUp(const platform::ImagePtr& image) {
    std::vector<LoadImageSubscriptionPtr> waiting;
    {
        std::lock_guard lock(mutex_);
        delivered_ = true;
        waiting.swap(subscriptions_);
    }
    for (const auto& subscription : waiting) subscription->deliver(image);
}

}  // namespace pindle
