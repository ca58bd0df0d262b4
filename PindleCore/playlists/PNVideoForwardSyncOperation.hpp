// PNVideoForwardSyncOperation: sends one pending change to the backend as an update of the
// video whose identifier is the change's entityID: key "tags" as {"tags": [texts]}, key
// "metadata" as {"metadata": {text: text}}, with the internal-caller token. The operation
// finishes when the request completes and then reports to its delegate, held weakly, once.
//
// A change it cannot send (another key, or a value of the wrong shape, which only a file
// written elsewhere can hold) sends nothing and is reported as a failure without an error,
// so that the changes behind it still go out.
//
// Thread-safety: safe from any thread. main() runs on the operation queue; the delegate is
// called on the thread of the request's completion, with no lock held.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "PindleCore/model/PNAsyncOperation.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/playlists/PNPendingChange.hpp"
#include "PindleCore/playlists/PNVideoForwardSyncOperationDelegate.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNVideoForwardSyncOperation : public PNAsyncOperation {
  public:
    explicit PNVideoForwardSyncOperation(PNPendingChange pending);
    PNVideoForwardSyncOperation(const PNVideoForwardSyncOperation&) = delete;
    PNVideoForwardSyncOperation& operator=(const PNVideoForwardSyncOperation&) = delete;

    const PNPendingChange& pendingItem() const { return pendingItem_; }

    std::shared_ptr<PNVideoForwardSyncOperationDelegate> delegate() const;
    // Held weakly; nullptr stops all further reports.
    void setDelegate(const std::shared_ptr<PNVideoForwardSyncOperationDelegate>& delegate);

    // The update request's parameters for `change`; nothing when it cannot be sent.
    static std::optional<platform::Dictionary> parameters(const PNPendingChange& change);

    void main() override;
    // Finishes at once and cancels the request in flight, whose completion then reports.
    void cancel() override;

  private:
    void finish(bool success, const std::optional<platform::Error>& error);

    const PNPendingChange pendingItem_;

    mutable std::mutex mutex_;
    PNCancellablePtr cancellationToken_;  // guarded by mutex_
    platform::WeakDelegate<PNVideoForwardSyncOperationDelegate> delegate_;
};

}  // namespace pindle
