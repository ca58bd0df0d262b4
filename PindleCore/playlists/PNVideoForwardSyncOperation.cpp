#include "PindleCore/playlists/PNVideoForwardSyncOperation.hpp"

#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNTokenObject.hpp"

namespace pindle {

PNVideoForwardSyncOperation::PNVideoForwardSyncOperation(PNPendingChange pending)
    : pendingItem_(std::move(pending)) {}

std::shared_ptr<PNVideoForwardSyncOperationDelegate> PNVideoForwardSyncOperation::delegate() const {
    return delegate_.get();
}

void PNVideoForwardSyncOperation::setDelegate(
    const std::shared_ptr<PNVideoForwardSyncOperationDelegate>& delegate) {
    delegate_.set(delegate);
}

std::optional<platform::Dictionary> PNVideoForwardSyncOperation::parameters(
    const PNPendingChange& change) {
    if (change.key() == PNPendingChange::tagsKey) {
        auto tags = change.value().asStringSetLoosely();
        if (!tags)
            return std::nullopt;
        platform::Array list;
        for (const auto& tag : *tags) list.emplace_back(tag);
        return platform::Dictionary{{PNPendingChange::tagsKey, platform::Value(std::move(list))}};
    }
    if (change.key() == PNPendingChange::metadataKey) {
        auto metadata = change.value().asStringDictionary();
        if (!metadata)
            return std::nullopt;
        return platform::Dictionary{{PNPendingChange::metadataKey, platform::Value(*metadata)}};
    }
    return std::nullopt;
}

void PNVideoForwardSyncOperation::main() {
    if (!setIsExecuting())
        return;
    auto parameters = PNVideoForwardSyncOperation::parameters(pendingItem_);
    if (!parameters) {
        finish(false, std::nullopt);
        return;
    }
    auto self = std::static_pointer_cast<PNVideoForwardSyncOperation>(shared_from_this());
    auto token = PNVideoAPI::shared().updateVideo(
        pendingItem_.entityID(), *parameters, PNTokenObject::sharedInstance(),
        [self](const std::shared_ptr<PNVideo>& video, const std::optional<platform::Error>& error) {
            self->finish(video != nullptr, error);
        });
    std::lock_guard lock(mutex_);
    cancellationToken_ = std::move(token);
}

void PNVideoForwardSyncOperation::cancel() {
    PNAsyncOperation::cancel();
    PNCancellablePtr token;
    {
        std::lock_guard lock(mutex_);
        token = cancellationToken_;
    }
    if (token)
        token->cancelIt();
}

void PNVideoForwardSyncOperation::finish(bool success,
                                         const std::optional<platform::Error>& error) {
    setIsFinished();
    auto self = std::static_pointer_cast<PNVideoForwardSyncOperation>(shared_from_this());
    if (auto delegate = this->delegate())
        delegate->PNVideoForwardSyncOperationFinished(self, success, error);
}

}  // namespace pindle
