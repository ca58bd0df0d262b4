#include "PindleCore/model/PNErrorFabric.hpp"

#include "PindleCore/model/PNEnvironmentValidator.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"

namespace pindle {

PNError PNErrorFabric::error(const platform::Error& error) {
    if (isOffline(error))
        return PNError::noInternetConnection;
    if (timedOut(error))
        return PNError::timedOut;
    if (isAuthError(error))
        return PNError::authenticationFailed;
    if (isQuotaError(error))
        return PNError::quotaLimitReached;
    if (isServerMaintenanceError(error))
        return PNError::serverMaintenance;
    if (isServerDownError(error))
        return PNError::serverDown;
    return PNError::unknown;
}

PNError PNErrorFabric::errorAnyway(const std::optional<platform::Error>& error) {
    return error ? PNErrorFabric::error(*error) : PNError(PNError::unknown);
}

std::optional<PNError> PNErrorFabric::errorNullable(const std::optional<platform::Error>& error) {
    if (!error)
        return std::nullopt;
    return errorAnyway(error);
}

std::optional<PNError> PNErrorFabric::isSessionNotStartedError() const {
    return PNEnvironmentValidator::validate();
}

}  // namespace pindle
