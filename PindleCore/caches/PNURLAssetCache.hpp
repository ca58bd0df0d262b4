// PNURLAssetCache: keeps media assets alive by holding them in one process-wide list, and
// lets go of all of them at once when the list has reached `flushThreshold` entries
// (printing how long emptying took). It offers no lookup.
//
// Thread-safety: put() is safe from any thread; the list is guarded by one process-wide
// lock. No callbacks.
#pragma once

#include <cstddef>

#include "platform/media/Asset.hpp"

namespace pindle {

class PNURLAssetCache {
  public:
    static constexpr std::size_t flushThreshold = 350;

    PNURLAssetCache() = delete;

    // Holds `asset`; first empties the list when it holds flushThreshold or more.
    static void put(platform::AssetPtr asset);
    // How many assets are held (for inspection).
    static std::size_t count();
};

}  // namespace pindle
