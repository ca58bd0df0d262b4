#include "PindleCore/playlists/PNVideoSyncService.hpp"

#include <algorithm>
#include <chrono>

#include "PindleCore/model/PNErrorClassification.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace {

// Statuses by which a gateway or the server says it cannot serve for now.
bool isGatewayStatus(const platform::Error& error) {
    auto status = statusCode(error);
    return status && (*status == 502 || *status == 503 || *status == 504);
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
    PNPendingChange change(entityID, className, key, value);
    bool stored = false;
    {
        std::lock_guard lock(mutex_);
        // What the store could not write earlier goes first, so the list keeps the order of
        // the edits; while any of it stays in memory, so does every later edit.
        while (!unsaved_.empty() && storage_->add(unsaved_.front()))
            unsaved_.erase(unsaved_.begin());
        stored = unsaved_.empty() && storage_->add(change);
        if (!stored) {
            std::erase_if(unsaved_, [&](const PNPendingChange& kept) {
                return BelongsToSameEntityAndValue(kept, change);
            });
            unsaved_.push_back(change);
        }
        startIfIdle();
    }
    if (!stored)
        logger_.log("pending_change_not_stored_" + key + "_" + entityID + "_kept_in_memory");
    return true;
}

void PNVideoSyncService::pass(const std::vector<PNVideoPtr>& videos) {
    std::lock_guard lock(mutex_);
    std::vector<PNPendingChange> changes;
    for (auto& change : pendingChanges()) {
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
    const PNPendingChange& change = operation->pendingItem();
    const bool gateway = !success && error && isGatewayStatus(*error);
    const bool retryInTurn = !success && error && !gateway && isRetryError(*error);
    if (!retryInTurn) {
        bool dropped = false;
        {
            std::lock_guard lock(mutex_);
            const auto now = platform::Clock::current()->uptime();
            if (gateway && backOff(change, now)) {
                syncNext(now);
                return;
            }
            dropped = gateway;
            if (forget(change)) {
                syncNext();
            } else {
                // The store cannot be rewritten, so the same change would come first again and
                // again: pause until the next edit starts the cycle anew.
                if (current_)
                    current_->setDelegate(nullptr);
                current_.reset();
            }
        }
        if (dropped)
            logger_.log("sync_dropped_" + change.key() + "_of_video_" + change.entityID() +
                        "_after_" + std::to_string(maximumRetries) + "_retries_status_" +
                        std::to_string(statusCode(*error).value_or(0)));
        return;
    }
    platform::DispatchQueue::global()->asyncAfter(
        retryDelay, platform::weakly(this, [operation](PNVideoSyncService& self) {
            std::lock_guard lock(self.mutex_);
            // Only the operation still in charge may move the cycle on.
            if (self.current_ == operation)
                self.syncNext();
        }));
}

bool PNVideoSyncService::isIdle() const {
    std::lock_guard lock(mutex_);
    return current_ == nullptr && !waiting_;
}

bool PNVideoSyncService::isBackingOff() const {
    std::lock_guard lock(mutex_);
    return current_ == nullptr && waiting_;
}

void PNVideoSyncService::setSuspended(bool suspended) {
    operationQueue_->setSuspended(suspended);
}

bool PNVideoSyncService::isRetryable(const platform::Error& error) {
    return isRetryError(error) || isGatewayStatus(error);
}

void PNVideoSyncService::startIfIdle() {
    std::lock_guard lock(mutex_);
    if (!current_)
        syncNext();
}

std::vector<PNPendingChange> PNVideoSyncService::pendingChanges() const {
    auto changes = storage_->pending();
    for (const auto& kept : unsaved_) {
        std::erase_if(changes, [&](const PNPendingChange& stored) {
            return BelongsToSameEntityAndValue(stored, kept);
        });
        changes.push_back(kept);
    }
    return changes;
}

bool PNVideoSyncService::forget(const PNPendingChange& change) {
    std::erase_if(backoffs_, [&](const Backoff& backoff) { return backoff.change == change; });
    // A change kept in memory supersedes whatever older value of its property the store holds.
    const bool wasUnsaved = std::erase(unsaved_, change) > 0;
    auto stale = [&](const PNPendingChange& stored) {
        return stored == change || (wasUnsaved && BelongsToSameEntityAndValue(stored, change));
    };
    for (const auto& stored : storage_->pending())
        if (stale(stored))
            storage_->remove(stored);
    const auto left = storage_->pending();
    return std::none_of(left.begin(), left.end(), stale);
}

bool PNVideoSyncService::backOff(const PNPendingChange& change, platform::Clock::Duration now) {
    auto backoff = std::find_if(backoffs_.begin(), backoffs_.end(),
                                [&](const Backoff& entry) { return entry.change == change; });
    if (backoff == backoffs_.end())
        backoff = backoffs_.insert(backoffs_.end(), Backoff{change});
    if (backoff->retries >= maximumRetries) {
        backoffs_.erase(backoff);
        return false;
    }
    const platform::TimeInterval delay =
        std::min(retryDelay * static_cast<double>(1 << backoff->retries), maximumBackoff);
    ++backoff->retries;
    backoff->due = now + std::chrono::duration_cast<platform::Clock::Duration>(
                             std::chrono::duration<double>(delay));
    return true;
}

void PNVideoSyncService::wakeAfter(platform::Clock::Duration delay) {
    const platform::TimeInterval seconds = std::chrono::duration<double>(delay).count();
    platform::DispatchQueue::global()->asyncAfter(
        seconds, platform::weakly(this, [](PNVideoSyncService& self) {
            std::lock_guard lock(self.mutex_);
            self.waiting_ = false;
            if (!self.current_)
                self.syncNext();
        }));
}

void PNVideoSyncService::syncNext(std::optional<platform::Clock::Duration> now) {
    const auto changes = pendingChanges();
    std::erase_if(backoffs_, [&](const Backoff& backoff) {
        return std::find(changes.begin(), changes.end(), backoff.change) == changes.end();
    });
    if (current_)
        current_->setDelegate(nullptr);
    current_.reset();

    if (!now)
        now = platform::Clock::current()->uptime();
    std::optional<platform::Clock::Duration> earliest;
    const PNPendingChange* next = nullptr;
    for (const auto& change : changes) {
        auto backoff = std::find_if(backoffs_.begin(), backoffs_.end(),
                                    [&](const Backoff& entry) { return entry.change == change; });
        if (backoff == backoffs_.end() || backoff->due <= *now) {
            next = &change;
            break;
        }
        earliest = earliest ? std::min(*earliest, backoff->due) : backoff->due;
    }
    if (!next) {
        // Nothing left, or everything waits for its back-off: one wake-up at the first due.
        if (earliest && !waiting_)
            wakeAfter(*earliest - *now);
        waiting_ = earliest.has_value();
        return;
    }
    waiting_ = false;
    auto operation = std::make_shared<PNVideoForwardSyncOperation>(*next);
    operation->setDelegate(std::static_pointer_cast<PNVideoSyncService>(shared_from_this()));
    current_ = operation;
    operationQueue_->addOperation(operation);
}

}  // namespace pindle
