#include "PindleCore/playlists/PNVideoRequestOperation.hpp"

#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNErrorFabric.hpp"
#include "PindleCore/model/PNSortOrder.hpp"
#include "PindleCore/playlists/PNVideoSyncService.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle {

namespace {

void answerLater(PNVideoRequestOperation::Callback callback, PNVideoPtr video,
                 std::vector<PNVideoPtr> replaced, std::optional<platform::Error> error) {
    platform::DispatchQueue::global(platform::DispatchQoS::userInteractive)
        ->async([callback = std::move(callback), video = std::move(video),
                 replaced = std::move(replaced),
                 error = std::move(error)] { callback(video, replaced, error); });
}

}  // namespace

PNVideoRequestOperation::PNVideoRequestOperation(std::int64_t page, std::int64_t index,
                                                 platform::StringSet tags,
                                                 platform::StringDictionary metadata,
                                                 Callback callback)
    : requestPage_(page), tags_(std::move(tags)), metadata_(std::move(metadata)) {
    if (callback)
        blockCalls_.emplace_back(index, std::move(callback));
}

std::shared_ptr<PNVideoRequestOperationDelegate> PNVideoRequestOperation::delegate() const {
    return delegate_.get();
}

void PNVideoRequestOperation::setDelegate(
    const std::shared_ptr<PNVideoRequestOperationDelegate>& delegate) {
    delegate_.set(delegate);
}

bool PNVideoRequestOperation::addBlockCall(std::int64_t index, Callback callback) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    blockCalls_.emplace_back(index, std::move(callback));
    return true;
}

std::size_t PNVideoRequestOperation::blockCallCount() const {
    std::lock_guard lock(mutex_);
    return blockCalls_.size();
}

std::vector<PNVideoRequestOperation::BlockCall> PNVideoRequestOperation::takeBlockCalls() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    return std::exchange(blockCalls_, {});
}

void PNVideoRequestOperation::main() {
    if (!setIsExecuting())
        return;
    auto self = std::static_pointer_cast<PNVideoRequestOperation>(shared_from_this());
    auto token = PNVideoAPI::shared().videosByTags(
        tags_, metadata_, requestPage_ + 1, videosPerRequest,
        std::string(rawValue(PNSortOrder::asc)),
        [self](const std::shared_ptr<PNVideosResponse>& response,
               const std::optional<platform::Error>& error) { self->received(response, error); });
    bool stopNow = false;
    {
        std::lock_guard lock(mutex_);
        cancellationToken_ = token;
        // cancel() may have run between the start of the request and here.
        stopNow = isCancelled();
    }
    if (stopNow && token)
        token->cancelIt();
}

void PNVideoRequestOperation::received(const std::shared_ptr<PNVideosResponse>& response,
                                       const std::optional<platform::Error>& error) {
    if (!response) {
        const platform::Error failure = PNErrorFabric::errorAnyway(error).toPlatformError();
        for (auto& [index, callback] : takeBlockCalls())
            answerLater(std::move(callback), nullptr, {}, failure);
        setIsFinished();
        return;
    }
    const auto& videos = response->videos();
    PNVideoSyncService::sharedInstance().pass(videos);
    std::vector<PNVideoPtr> replaced;
    if (auto owner = delegate())
        replaced = owner->pnVideoRequestReceivedResult(videos, requestPage_);
    for (auto& [index, callback] : takeBlockCalls()) {
        const std::int64_t position = index % videosPerRequest;
        PNVideoPtr video;
        if (position >= 0 && position < static_cast<std::int64_t>(videos.size()))
            video = videos[static_cast<std::size_t>(position)];
        answerLater(std::move(callback), std::move(video), replaced, std::nullopt);
    }
    setIsFinished();
}

void PNVideoRequestOperation::cancel() {
    const platform::Error cancelled = PNError(PNError::unknown).toPlatformError();
    for (auto& [index, callback] : takeBlockCalls()) callback(nullptr, {}, cancelled);
    PNAsyncOperation::cancel();
    PNCancellablePtr token;
    {
        std::lock_guard lock(mutex_);
        token = cancellationToken_;
    }
    if (token)
        token->cancelIt();
}

}  // namespace pindle
