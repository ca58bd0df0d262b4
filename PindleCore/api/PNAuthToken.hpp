// PNAuthToken: the value of the "Authorization" header of every backend call, built afresh
// from the current session: "Bearer " and the session token in secure mode, else the API
// token.
//
// Thread-safety: reads the session's fields at the time of the call; any thread.
#pragma once

#include <optional>
#include <string>

namespace pindle {

class PNAuthToken {
  public:
    PNAuthToken() = delete;

    // Nothing when the token the mode needs is absent (a call before the session has its
    // token); the failure is logged on the RQST channel.
    static std::optional<std::string> authHeader();
};

}  // namespace pindle
