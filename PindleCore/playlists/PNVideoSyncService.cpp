#include "PindleCore/playlists/PNVideoSyncService.hpp"

#include "PindleCore/model/PNErrorClassification.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle {

namespace {

// Statuses by which a gateway or the server says it cannot serve for now.
bool isServiceUnavailableStatus(std::int64_t status) {
    return status == 502 || status == 503 || status == 504;
}

}  // namespace

PNVideoSyncService& PNVideoSyncService::sharedInstance() {
    static auto* service =
        new std::shared_ptr<PNVideoSyncService>(make(PNVideoSyncServiceStorage::shared()));
    return **service;
}

std::shared_ptr<PNVideoSyncService> PNVideoSyncService::make(
    std::shared_ptr<PNVideoSyncServiceStorage> storage) {
    return std::make_shared<PNVideoSyncService>(Private{}, std::move(storage));
}

PNVideoSyncService::PNVideoSyncService(Private, std::shared_ptr<PNVideoSyncServiceStorage> storage)
    : storage_(std::move(storage)),
      operationQueue_(platform::OperationQueue::create("PNVideoSyncService")) {}

bool PNVideoSyncService::queue(const std::string& entityID, const std::string& className,
                               const std::string& key, const platform::Value& value) {
    std::lock_guard lock(mutex_);
    const bool stored = storage_->add(PNPendingChange(entityID, className, key, value));
    if (stored)
        startIfIdle();
    return stored;
}

void PNVideoSyncService::pass(const std::vector<PNVideoPtr>& videos) {
    std::lock_guard lock(mutex_);
    std::vector<PNPendingChange> changes;
    for (auto& change : storage_->pending()) {
        if (change.className() == videoClassName)
            changes.push_back(std::move(change));
    }
    if (changes.empty())
        return;
    for (const auto& video : videos) {
        if (!video)
            continue;
        for (const auto& change : changes) {
            if (change.entityID() == video->videoID())
                apply(*video, change);
        }
    }
}

void PNVideoSyncService::apply(PNVideo& video, const PNPendingChange& change) {
    if (change.key() == PNPendingChange::tagsKey) {
        if (auto tags = change.value().asStringSetLoosely())
            video.setInternalTags(std::move(*tags));
    } else if (change.key() == PNPendingChange::metadataKey) {
        if (auto metadata = change.value().asStringDictionary())
            video.setInternalMetadata(std::move(*metadata));
    }
}

void PNVideoSyncService::PNVideoForwardSyncOperationFinished(
    const std::shared_ptr<PNVideoForwardSyncOperation>& operation, bool success,
    const std::optional<platform::Error>& error) {
    const bool retry = !success && error && isRetryable(*error);
    if (!retry) {
        std::lock_guard lock(mutex_);
        if (storage_->remove(operation->pendingItem())) {
            syncNext();
        } else {
            // The store cannot be rewritten, so the same change would come first again and
            // again: pause until the next edit starts the cycle anew.
            if (current_)
                current_->setDelegate(nullptr);
            current_.reset();
        }
        return;
    }
    std::weak_ptr<PNVideoSyncService> weakSelf =
        std::static_pointer_cast<PNVideoSyncService>(shared_from_this());
    platform::DispatchQueue::global()->asyncAfter(retryDelay, [weakSelf, operation] {
        auto self = weakSelf.lock();
        if (!self)
            return;
        std::lock_guard lock(self->mutex_);
        // Only the operation still in charge may move the cycle on.
        if (self->current_ == operation)
            self->syncNext();
    });
}

bool PNVideoSyncService::isIdle() const {
    std::lock_guard lock(mutex_);
    return current_ == nullptr;
}

void PNVideoSyncService::setSuspended(bool suspended) {
    operationQueue_->setSuspended(suspended);
}

bool PNVideoSyncService::isRetryable(const platform::Error& error) {
    if (isRetryError(error))
        return true;
    auto status = statusCode(error);
    return status && isServiceUnavailableStatus(*status);
}

void PNVideoSyncService::startIfIdle() {
    std::lock_guard lock(mutex_);
    if (!current_)
        syncNext();
}

void PNVideoSyncService::syncNext() {
    auto changes = storage_->pending();
    if (changes.empty()) {
        if (current_)
            current_->setDelegate(nullptr);
        current_.reset();
        return;
    }
    auto operation = std::make_shared<PNVideoForwardSyncOperation>(changes.front());
    operation->setDelegate(std::static_pointer_cast<PNVideoSyncService>(shared_from_this()));
    if (current_)
        current_->setDelegate(nullptr);
    current_ = operation;
    operationQueue_->addOperation(operation);
}

}  // namespace pindle
