// PNEnvironmentValidator: whether the session can be used for a request.
//
// Thread-safety: stateless; reads the session state of the moment.
#pragma once

#include <optional>

#include "PindleCore/model/PNError.hpp"

namespace pindle {

class PNEnvironmentValidator {
  public:
    // sessionNotStarted unless the current session has started.
    static std::optional<PNError> validate();
};

}  // namespace pindle
