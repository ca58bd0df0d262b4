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
//   - unavailable (offline, server down or in maintenance, timed out, terminated): the change
//     stays, and after retryDelay the first change of the store is sent, which is the same one
//     unless its property was edited meanwhile; the changes behind it wait;
//   - a gateway that cannot serve for now (HTTP status 502, 503 or 504): the change stays but
//     steps aside. It is sent again after a back-off that starts at retryDelay and doubles up
//     to maximumBackoff, while the changes behind it go out meanwhile; after maximumRetries
//     such retries it is removed like any other refused change, with a log line naming the
//     video, so that a backend stuck on one status cannot hold the queue for ever.
// When the store cannot be written, the failure is logged and the change is kept in memory
// (and written with the next change the store accepts), so the edit is still sent in its
// turn; only a process that ends first loses it. When a sent change cannot be removed from
// the store, the cycle pauses until the next queue() rather than send it again and again.
// Changes left by an earlier run are laid over fetched records at once but sent only once the
// first queue() of this run starts the cycle. Nothing is reported to callers.
//
// Thread-safety: every operation is safe from any thread; the service's recursive lock is
// taken before the store's. Sends run on the service's operation queue; results are handled on
// the thread where the update request completes; the retry delays run on the process clock
// (a global queue picks the change up again), so no thread is blocked meanwhile.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNVideoForwardSyncOperation.hpp"
#include "PindleCore/playlists/PNVideoForwardSyncOperationDelegate.hpp"
#include "PindleCore/playlists/PNVideoSyncServiceStorage.hpp"
#include "platform/dispatch/Clock.hpp"
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
    // Wait after a send failed because the network or the server was unavailable; also the
    // first back-off after a gateway status.
    static constexpr platform::TimeInterval retryDelay = 3.0;
    // Retries of one change after gateway statuses before it is dropped, and the longest
    // back-off between two of them.
    static constexpr int maximumRetries = 8;
    static constexpr platform::TimeInterval maximumBackoff = 300.0;

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
    // Always true: a change the store cannot write is kept in memory and sent all the same.
    bool queue(const std::string& entityID, const std::string& className, const std::string& key,
               const platform::Value& value);

    // Lays the pending edits of videos over these records, in place: a pending "tags" or
    // "metadata" value replaces the record's whole internal tags or metadata. Nothing is
    // queued again.
    void pass(const std::vector<PNVideoPtr>& videos);

    void PNVideoForwardSyncOperationFinished(
        const std::shared_ptr<PNVideoForwardSyncOperation>& operation, bool success,
        const std::optional<platform::Error>& error) override;

    // True when no change is being sent or waited on (after a failure or during a back-off).
    bool isIdle() const;
    // True while every pending change waits for its back-off, so nothing is being sent.
    bool isBackingOff() const;
    // While suspended, no send starts (edits still go to the store); a send already running
    // completes. The cycle resumes where it was.
    void setSuspended(bool suspended);

    const std::shared_ptr<PNVideoSyncServiceStorage>& storage() const { return storage_; }

    // Whether a failed send should be tried again later (in turn or after a back-off).
    static bool isRetryable(const platform::Error& error);

  private:
    // A change sent back by a gateway status: how often, and when it may go again (on the
    // process clock's uptime).
    struct Backoff {
        PNPendingChange change;
        int retries = 0;
        platform::Clock::Duration due{};
    };

    void startIfIdle();
    // Sends the first pending change not in a back-off; when every change waits, wakes up when
    // the first is due; when none is left, goes idle. `now` is the clock reading a caller's
    // decision was made on (the clock is read when absent), so that a change just sent back is
    // never found due by a later reading. REQUIRES: mutex_ held.
    void syncNext(std::optional<platform::Clock::Duration> now = std::nullopt);
    // The store's changes with those it could not write laid over them. REQUIRES: mutex_ held.
    std::vector<PNPendingChange> pendingChanges() const;
    // Takes a handled change off the memory list and the store; false when the store still
    // holds it. REQUIRES: mutex_ held.
    bool forget(const PNPendingChange& change);
    // After a gateway status: true when the change has retries left (it then waits its
    // back-off), false when it has used them all. REQUIRES: mutex_ held.
    bool backOff(const PNPendingChange& change, platform::Clock::Duration now);
    void wakeAfter(platform::Clock::Duration delay);
    static void apply(PNVideo& video, const PNPendingChange& change);

    const std::shared_ptr<PNVideoSyncServiceStorage> storage_;
    const std::shared_ptr<platform::OperationQueue> operationQueue_;

    // Recursive: the sync steps (startIfIdle, syncNext, an operation's end) call one another
    // with it held.
    mutable std::recursive_mutex mutex_;
    // The operation sending the current change (state updatingData); null when idle.
    std::shared_ptr<PNVideoForwardSyncOperation> current_;  // guarded by mutex_
    // Changes the store failed to write, oldest first.
    std::vector<PNPendingChange> unsaved_;  // guarded by mutex_
    std::vector<Backoff> backoffs_;         // guarded by mutex_
    // Every change waits for its back-off; a wake-up is scheduled.
    bool waiting_ = false;  // guarded by mutex_
    PNLogger logger_{PNLoggerType::VDSR};
};

}  // namespace pindle
