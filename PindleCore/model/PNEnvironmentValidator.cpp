#include "PindleCore/model/PNEnvironmentValidator.hpp"

#include "PindleCore/model/PNSessionFacts.hpp"

namespace pindle {

std::optional<PNError> PNEnvironmentValidator::validate() {
    if (currentSessionFacts().started)
        return std::nullopt;
    return PNError(PNError::sessionNotStarted);
}

}  // namespace pindle
