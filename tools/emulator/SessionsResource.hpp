#pragma once

#include <string>

#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"
#include "tools/emulator/Router.hpp"
#include "tools/emulator/SessionRegistry.hpp"

namespace pindle::emulator {

// The backend's "sessions" resource: POST opens a session for a user identity. The
// application's API token comes as "Authorization: Bearer <API token>" or, without that
// header, as "apiToken" in the JSON body; the body's "identity" names the user. The reply
// carries "id" (the application identifier), "identity", "sessionToken", "createdAt" and
// "expiresAt" (backend date text). An unknown token gets 401, a malformed body 400.
// Thread-safety: safe from any thread; its handler runs on the server's I/O threads.
class SessionsResource {
  public:
    explicit SessionsResource(SessionRegistry& sessions);
    SessionsResource(const SessionsResource&) = delete;
    SessionsResource& operator=(const SessionsResource&) = delete;

    // REQUIRES: apiRoot starts with "/" and has no trailing slash, such as "/v1".
    void addRoutes(Router& router, const std::string& apiRoot);

    Response open(const Request& request);

  private:
    SessionRegistry& sessions_;
};

}  // namespace pindle::emulator
