// PNPendingChangesParser: the JSON form of the list of pending changes:
// {"data": {"changes": [change, ...]}}, oldest first, each change as PNPendingChange::encode()
// gives it.
//
// Thread-safety: stateless; any thread.
#pragma once

#include <optional>
#include <vector>

#include "PindleCore/playlists/PNPendingChange.hpp"
#include "platform/foundation/Data.hpp"

namespace pindle {

class PNPendingChangesParser {
  public:
    static PNPendingChangesParser& shared();

    PNPendingChangesParser(const PNPendingChangesParser&) = delete;
    PNPendingChangesParser& operator=(const PNPendingChangesParser&) = delete;

    // The JSON text of the list; nothing when some value cannot be written as JSON.
    std::optional<platform::Data> encode(const std::vector<PNPendingChange>& changes) const;
    // Nothing when `data` is not JSON or its top level is not an object. An empty list when
    // "data" is not an object holding a "changes" array. Elements that are not a well-formed
    // change are skipped, so one damaged entry does not cost the others.
    std::optional<std::vector<PNPendingChange>> decode(const platform::Data& data) const;

  private:
    PNPendingChangesParser() = default;
};

}  // namespace pindle
