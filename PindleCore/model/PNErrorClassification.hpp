// Classification of errors: read-only predicates that tell what kind of failure an error
// stands for, whatever produced it (the transport, the HTTP requester's status error, or a
// PNError handed on as a platform error).
//
// "status" below is the user-info entry "statusCode" read as an integer: the HTTP status the
// requester records for a reply outside 200-299.
//
// Thread-safety: pure functions.
#pragma once

#include "PindleCore/model/PNError.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle {

bool isOffline(const platform::Error& error);                 // URL domain, -1009 or -1005
bool timedOut(const platform::Error& error);                  // URL domain, -1001
bool isServerDownError(const platform::Error& error);         // URL domain, -1003 or -1004
bool isCancelled(const platform::Error& error);               // code -999, any domain
bool isTerminated(const platform::Error& error);              // code 53, any domain
bool isAuthError(const platform::Error& error);               // status 401
bool isNotFound(const platform::Error& error);                // status 404
bool isRangeNotSatisfied(const platform::Error& error);       // status 416
bool isQuotaError(const platform::Error& error);              // never
bool isServerMaintenanceError(const platform::Error& error);  // never
// Offline, server down, maintenance, timed out or terminated.
bool isRetryError(const platform::Error& error);
// A status that tells of a passing state of the server: 408, 429 or 500-599.
bool isRetryableStatus(const platform::Error& error);

// The HTTP status recorded in an error's user info, when there is one.
std::optional<std::int64_t> statusCode(const platform::Error& error);

}  // namespace pindle
