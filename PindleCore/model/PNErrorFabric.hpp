// PNErrorFabric: maps any error onto a PNError code by a fixed order of the classification
// predicates: offline (0), timed out (3), authentication (2), quota (6), maintenance (7),
// server down (4), else unknown (15).
//
// Thread-safety: stateless; call from any thread.
#pragma once

#include <optional>

#include "PindleCore/model/PNError.hpp"

namespace pindle {

class PNErrorFabric {
  public:
    static PNError error(const platform::Error& error);
    // unknown (15) when there is no error.
    static PNError errorAnyway(const std::optional<platform::Error>& error);
    // nothing when there is no error.
    static std::optional<PNError> errorNullable(const std::optional<platform::Error>& error);

    // sessionNotStarted unless the current session has started (as PNEnvironmentValidator).
    std::optional<PNError> isSessionNotStartedError() const;
};

}  // namespace pindle
