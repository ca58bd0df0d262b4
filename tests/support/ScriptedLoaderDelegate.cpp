#include "support/ScriptedLoaderDelegate.hpp"

#include <algorithm>

namespace pindle::platform::testing {

ScriptedLoaderDelegate::ScriptedLoaderDelegate(std::string bytes, Options options)
    : bytes_(std::move(bytes)),
      queue_(DispatchQueue::create(queueLabel)),
      options_(std::move(options)) {}

std::vector<ScriptedLoaderDelegate::Seen> ScriptedLoaderDelegate::requests() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

std::vector<AssetResourceLoadingRequestPtr> ScriptedLoaderDelegate::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

int ScriptedLoaderDelegate::ticksScheduled() const {
    std::lock_guard lock(mutex_);
    return ticksScheduled_;
}

int ScriptedLoaderDelegate::cancellationsOffQueue() const {
    std::lock_guard lock(mutex_);
    return offQueue_;
}

bool ScriptedLoaderDelegate::shouldWaitForLoadingOfRequestedResource(
    AssetResourceLoader&, const AssetResourceLoadingRequestPtr& request) {
    Options options;
    {
        std::lock_guard lock(mutex_);
        Seen seen{request, request->contentInformationRequest() != nullptr};
        if (const auto* data = request->dataRequest()) {
            seen.offset = data->requestedOffset();
            seen.length = data->requestedLength();
            seen.toEnd = data->requestsAllDataToEndOfResource();
        }
        seen_.push_back(seen);
        options = options_;
    }
    if (options.neverAnswer)
        return true;
    if (options.failWith) {
        request->finishLoading(*options.failWith);
        return true;
    }
    if (auto* information = request->contentInformationRequest()) {
        information->setContentType(options.contentType);
        information->setContentLength(static_cast<std::int64_t>(bytes_.size()));
        information->setByteRangeAccessSupported(options.byteRangeAccess);
    }
    feed(request);
    return true;
}

void ScriptedLoaderDelegate::didCancelLoadingRequest(
    AssetResourceLoader&, const AssetResourceLoadingRequestPtr& request) {
    std::lock_guard lock(mutex_);
    cancelled_.push_back(request);
    if (DispatchQueue::currentLabel() != queueLabel)
        ++offQueue_;
}

void ScriptedLoaderDelegate::release(std::int64_t holdFrom) {
    {
        std::lock_guard lock(mutex_);
        options_.holdFrom = holdFrom;
    }
    queue_->async([self = shared_from_this()] { self->resumeParked(); });
}

void ScriptedLoaderDelegate::resumeParked() {
    std::vector<AssetResourceLoadingRequestPtr> parked;
    {
        std::lock_guard lock(mutex_);
        parked.swap(parked_);
    }
    for (const auto& request : parked) feed(request);
}

void ScriptedLoaderDelegate::feed(const AssetResourceLoadingRequestPtr& request) {
    if (request->isCancelled() || request->isFinished())
        return;
    auto* data = request->dataRequest();
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (!data) {
        request->finishLoading();
        return;
    }
    const std::int64_t end =
        data->requestsAllDataToEndOfResource()
            ? size
            : std::min(size, data->requestedOffset() + data->requestedLength());
    std::int64_t current = data->currentOffset();
    if (current >= end) {
        request->finishLoading();
        return;
    }
    Options options;
    {
        std::lock_guard lock(mutex_);
        options = options_;
    }
    const std::int64_t allowed = options.holdFrom >= 0 ? std::min(end, options.holdFrom) : end;
    if (current >= allowed) {
        std::lock_guard lock(mutex_);
        parked_.push_back(request);
        return;
    }
    const std::int64_t step =
        options.bytesPerSecond > 0
            ? std::max<std::int64_t>(1, static_cast<std::int64_t>(options.bytesPerSecond * tick))
            : allowed - current;
    const std::int64_t count = std::min(step, allowed - current);
    data->respond(Data(bytes_.begin() + current, bytes_.begin() + current + count));
    current += count;
    std::weak_ptr<ScriptedLoaderDelegate> weak = shared_from_this();
    auto next = [weak, request] {
        if (auto self = weak.lock())
            self->feed(request);
    };
    if (options.bytesPerSecond > 0) {
        queue_->asyncAfter(tick, std::move(next));
        std::lock_guard lock(mutex_);
        ++ticksScheduled_;
    } else {
        queue_->async(std::move(next));
    }
}

}  // namespace pindle::platform::testing
