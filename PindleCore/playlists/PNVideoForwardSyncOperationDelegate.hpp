// PNVideoForwardSyncOperationDelegate: what a forward operation reports its one result to.
//
// Thread-safety: called on the thread where the update request completed (or, for a change
// that cannot be sent, on the operation's own thread), with no lock of the operation held.
#pragma once

#include <optional>

#include "platform/foundation/Error.hpp"

namespace pindle {

class PNVideoForwardSyncOperation;

class PNVideoForwardSyncOperationDelegate {
  public:
    virtual ~PNVideoForwardSyncOperationDelegate() = default;

    // `success`: the backend answered with the updated record.
    virtual void PNVideoForwardSyncOperationFinished(
        const std::shared_ptr<PNVideoForwardSyncOperation>& operation, bool success,
        const std::optional<platform::Error>& error) = 0;
};

}  // namespace pindle
