#include "PindleCore/model/PNEnvironmentValidator.hpp"

#include "PindleCore/api/PNSession.hpp"

namespace pindle {

std::optional<PNError> PNEnvironmentValidator::validate() {
    if (PNSession::current()->state() == PNSessionState::started)
        return std::nullopt;
    return PNError(PNError::sessionNotStarted);
}

}  // namespace pindle
