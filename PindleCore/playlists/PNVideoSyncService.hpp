// PNVideoSyncService: keeps local edits of a video's metadata as pending changes and forwards
// them to the backend.
//
// For now this is only the narrow part the video record needs: queue() records each change
// handed to it, in order. The persistent store and the forwarding to the backend replace
// this recording when the sync layer lands.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Value.hpp"

namespace pindle {

class PNVideoSyncService {
  public:
    struct PendingChange {
        std::string entityID;
        std::string className;
        std::string key;
        platform::Value value;
    };

    static PNVideoSyncService& sharedInstance();

    PNVideoSyncService(const PNVideoSyncService&) = delete;
    PNVideoSyncService& operator=(const PNVideoSyncService&) = delete;

    // Stores the change as pending; true when it was stored (always).
    bool queue(const std::string& entityID, const std::string& className, const std::string& key,
               const platform::Value& value);

    // Every change queued so far, in order.
    std::vector<PendingChange> queuedChanges() const;
    void removeAllQueuedChanges();

  private:
    PNVideoSyncService() = default;

    mutable std::mutex mutex_;
    std::vector<PendingChange> queued_;  // guarded by mutex_
};

}  // namespace pindle
