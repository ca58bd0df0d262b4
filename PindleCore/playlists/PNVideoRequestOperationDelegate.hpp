// PNVideoRequestOperationDelegate: what a page request hands its fetched page to. The legacy
// playlist adopts it to store the page and drop the local videos the page brings back.
//
// Thread-safety: called on the thread on which the page request's answer arrives (the API
// client's callback queue); the implementer guards its own state.
#pragma once

#include <cstdint>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"

namespace pindle {

class PNVideoRequestOperationDelegate {
  public:
    virtual ~PNVideoRequestOperationDelegate() = default;

    // Stores `videos` (backend order) as the zero-based page `page` and returns the local
    // videos that the page replaced (possibly none).
    virtual std::vector<PNVideoPtr> pnVideoRequestReceivedResult(
        const std::vector<PNVideoPtr>& videos, std::int64_t page) = 0;
};

}  // namespace pindle
