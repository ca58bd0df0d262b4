// PNPlaylistCancellationToken: the handle a playlist returns from an asynchronous access to a
// video at an index. Cancelling is cooperative: cancelIt() only raises a flag, which the
// playlist's waiting work reads at each of its checks and then gives up; it calls nothing
// back and stops no request.
//
// Thread-safety: cancelIt() and isCancelled() may be called from any thread. A check that
// overlaps cancelIt() may still see the flag clear; the next one sees it set.
#pragma once

#include <atomic>

#include "PindleCore/model/PNCancellable.hpp"

namespace pindle {

class PNPlaylistCancellationToken : public PNCancellable {
  public:
    PNPlaylistCancellationToken() = default;
    PNPlaylistCancellationToken(const PNPlaylistCancellationToken&) = delete;
    PNPlaylistCancellationToken& operator=(const PNPlaylistCancellationToken&) = delete;

    // Raises the flag; it never goes down again.
    void cancelIt() override;

    // For the library's playlists: whether the holder asked to cancel.
    bool cancelled() const { return cancelled_.load(); }

  private:
    std::atomic<bool> cancelled_{false};
};

}  // namespace pindle
