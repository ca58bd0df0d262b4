#include "PindleCore/model/PNEnvironmentValidator.hpp"

#include "PindleCore/model/private/PNSessionContext.hpp"

namespace pindle {

std::optional<PNError> PNEnvironmentValidator::validate() {
    if (PNSessionContext::current()->started())
        return std::nullopt;
    return PNError(PNError::sessionNotStarted);
}

}  // namespace pindle
