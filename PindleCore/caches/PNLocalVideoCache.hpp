// PNLocalVideoCache: the index of media files recorded on this device.
//
// For now only the entry points the session and the record cache need exist: resetCache()
// rebuilds the index from the stored upload records, which arrive with the uploads layer, so
// the index is empty. resetCache() calls are counted so the session's use of it can be checked.
//
// Thread-safety: safe from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "PindleCore/model/PNVideo.hpp"

namespace pindle {

class PNLocalVideoCache {
  public:
    static PNLocalVideoCache& shared();

    PNLocalVideoCache(const PNLocalVideoCache&) = delete;
    PNLocalVideoCache& operator=(const PNLocalVideoCache&) = delete;

    void resetCache();
    // The locally recorded video of that identifier, if any.
    std::shared_ptr<PNVideo> video(const std::string& videoID) const;
    int resetCount() const { return resets_.load(); }

  private:
    PNLocalVideoCache() = default;
    std::atomic<int> resets_{0};
};

}  // namespace pindle
