#include "PindleCore/playlists/PNVideoSyncService.hpp"

namespace pindle {

PNVideoSyncService& PNVideoSyncService::sharedInstance() {
    static PNVideoSyncService* service = new PNVideoSyncService;
    return *service;
}

bool PNVideoSyncService::queue(const std::string& entityID, const std::string& className,
                               const std::string& key, const platform::Value& value) {
    std::lock_guard lock(mutex_);
    queued_.push_back({entityID, className, key, value});
    return true;
}

std::vector<PNVideoSyncService::PendingChange> PNVideoSyncService::queuedChanges() const {
    std::lock_guard lock(mutex_);
    return queued_;
}

void PNVideoSyncService::removeAllQueuedChanges() {
    std::lock_guard lock(mutex_);
    queued_.clear();
}

}  // namespace pindle
