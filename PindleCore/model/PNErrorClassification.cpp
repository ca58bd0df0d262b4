#include "PindleCore/model/PNErrorClassification.hpp"

namespace pindle {

namespace {

bool isURLError(const platform::Error& error, std::initializer_list<std::int64_t> codes) {
    if (error.domain() != platform::URLError::domain)
        return false;
    for (std::int64_t code : codes) {
        if (error.code() == code)
            return true;
    }
    return false;
}

bool hasStatus(const platform::Error& error, std::int64_t status) {
    return statusCode(error) == status;
}

}  // namespace

std::optional<std::int64_t> statusCode(const platform::Error& error) {
    auto it = error.userInfo().find("statusCode");
    if (it == error.userInfo().end())
        return std::nullopt;
    return it->second.asWholeNumber();
}

bool isOffline(const platform::Error& error) {
    return isURLError(error, {platform::URLError::notConnectedToInternet,
                              platform::URLError::networkConnectionLost});
}

bool timedOut(const platform::Error& error) {
    return isURLError(error, {platform::URLError::timedOut});
}

bool isServerDownError(const platform::Error& error) {
    return isURLError(
        error, {platform::URLError::cannotFindHost, platform::URLError::cannotConnectToHost});
}

bool isCancelled(const platform::Error& error) {
    return error.code() == platform::URLError::cancelled;
}

bool isTerminated(const platform::Error& error) {
    return error.code() == platform::POSIXError::connectionAborted;
}

bool isAuthError(const platform::Error& error) {
    return hasStatus(error, 401);
}
bool isNotFound(const platform::Error& error) {
    return hasStatus(error, 404);
}
bool isRangeNotSatisfied(const platform::Error& error) {
    return hasStatus(error, 416);
}

// No backend reply is known to mean an exhausted quota or maintenance.
bool isQuotaError(const platform::Error&) {
    return false;
}
bool isServerMaintenanceError(const platform::Error&) {
    return false;
}

bool isRetryError(const platform::Error& error) {
    return isOffline(error) || isServerDownError(error) || isServerMaintenanceError(error) ||
           timedOut(error) || isTerminated(error);
}

bool isRetryableStatus(const platform::Error& error) {
    constexpr std::int64_t requestTimeout = 408;
    constexpr std::int64_t tooManyRequests = 429;
    const auto status = statusCode(error);
    return status && (*status == requestTimeout || *status == tooManyRequests ||
                      (*status >= 500 && *status <= 599));
}

}  // namespace pindle
