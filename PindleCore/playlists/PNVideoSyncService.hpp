// PNVideoSyncService: makes local edits of a video's tags or metadata durable and forwards
// them to the backend, one at a time, oldest outstanding edit first, retrying while the
// network or the server is unavailable. It also lays the edits still pending over records
// freshly fetched from the backend, so lists show the user's edits before the backend has
// them.
//
// queue() stores the change in the pending changes store (replacing an older edit of the same
// property, which moves to the end) and, when no change is being sent, starts sending. Each
// result is handled before the next change is picked:
//   - sent (the backend answered with the record), refused for good (any other error, or no
//     error at all) or unsendable: the sent value is removed from the store (a newer value of
//     the same property stays) and the next change goes out at once;
//   - unavailable (offline, server down or in maintenance, timed out, terminated, or an HTTP
//     status 502, 503 or 504): the change stays, and after retryDelay the first change of the
//     store is sent, which is the same one unless its property was edited meanwhile.
// When the store cannot be rewritten after a result, the cycle pauses until the next queue().
// Changes left by an earlier run are laid over fetched records at once but sent only once the
// first queue() of this run starts the cycle. Nothing is reported to callers.
//
// Thread-safety: every operation is safe from any thread; the service's recursive lock is
// taken before the store's. Sends run on the service's operation queue; results are handled on
// the thread where the update request completes; the retry delay runs on the process clock
// (a global queue picks the change up again), so no thread is blocked meanwhile.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNVideoForwardSyncOperation.hpp"
#include "PindleCore/playlists/PNVideoForwardSyncOperationDelegate.hpp"
#include "PindleCore/playlists/PNVideoSyncServiceStorage.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNVideoSyncService : public platform::Object, public PNVideoForwardSyncOperationDelegate {
    struct Private {
        explicit Private() = default;
    };

  public:
    static constexpr const char* videoClassName = "PNVideo";
    // Wait after a send failed because the network or the server was unavailable.
    static constexpr platform::TimeInterval retryDelay = 3.0;

    // The process-wide service over PNVideoSyncServiceStorage::shared().
    static PNVideoSyncService& sharedInstance();
    // A service of its own over `storage` (for a host with another location, and for tests).
    static std::shared_ptr<PNVideoSyncService> make(
        std::shared_ptr<PNVideoSyncServiceStorage> storage);

    // Use make() or sharedInstance().
    PNVideoSyncService(Private, std::shared_ptr<PNVideoSyncServiceStorage> storage);
    PNVideoSyncService(const PNVideoSyncService&) = delete;
    PNVideoSyncService& operator=(const PNVideoSyncService&) = delete;

    // Stores the new whole value of one property of one record, and starts sending when idle.
    // False when the store could not be written (the change is then neither kept nor sent).
    bool queue(const std::string& entityID, const std::string& className, const std::string& key,
               const platform::Value& value);

    // Lays the pending edits of videos over these records, in place: a pending "tags" or
    // "metadata" value replaces the record's whole internal tags or metadata. Nothing is
    // queued again.
    void pass(const std::vector<PNVideoPtr>& videos);

    void PNVideoForwardSyncOperationFinished(
        const std::shared_ptr<PNVideoForwardSyncOperation>& operation, bool success,
        const std::optional<platform::Error>& error) override;

    // True when no change is being sent or waited on.
    bool isIdle() const;
    // While suspended, no send starts (edits still go to the store); a send already running
    // completes. The cycle resumes where it was.
    void setSuspended(bool suspended);

    const std::shared_ptr<PNVideoSyncServiceStorage>& storage() const { return storage_; }

    // Whether a failed send should be tried again later.
    static bool isRetryable(const platform::Error& error);

  private:
    void startIfIdle();
    // Sends the first pending change, or goes idle. REQUIRES: mutex_ held.
    void syncNext();
    static void apply(PNVideo& video, const PNPendingChange& change);

    const std::shared_ptr<PNVideoSyncServiceStorage> storage_;
    const std::shared_ptr<platform::OperationQueue> operationQueue_;

    mutable std::recursive_mutex mutex_;
    // The operation sending the current change (state updatingData); null when idle.
    std::shared_ptr<PNVideoForwardSyncOperation> current_;  // guarded by mutex_
};

}  // namespace pindle
