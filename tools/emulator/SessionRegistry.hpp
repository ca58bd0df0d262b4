#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pindle::emulator {

// The applications the backend knows (an identifier and its API token each) and the
// sessions it has handed out. A bearer token authorizes a call when it is the API token of
// an application or the token of a session that has not expired.
// Thread-safety: safe from any thread.
class SessionRegistry {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds since 1970

    struct Application {
        std::string id;
        std::string apiToken;
    };

    struct Session {
        std::string token;
        std::string appID;
        std::string identity;
        std::int64_t createdAt = 0;
        std::int64_t expiresAt = 0;
    };

    // Who made an authorized call.
    struct Caller {
        std::string appID;
        std::string identity;  // empty for a call made with the API token
        bool withSessionToken = false;
    };

    explicit SessionRegistry(Clock clock, std::chrono::seconds sessionLifetime);
    SessionRegistry(const SessionRegistry&) = delete;
    SessionRegistry& operator=(const SessionRegistry&) = delete;

    void addApplication(Application application);
    std::vector<Application> applications() const;

    // A new session for the application whose API token this is; nothing for an unknown token.
    std::optional<Session> open(const std::string& apiToken, const std::string& identity);
    // The caller behind a bearer token; nothing for an unknown or expired token.
    std::optional<Caller> authorize(const std::string& token) const;
    // The same for the value of an "Authorization" header, "Bearer " and the token.
    std::optional<Caller> authorizeHeader(const std::optional<std::string>& authorization) const;
    // The token of a "Bearer " header value; nothing for another scheme.
    static std::optional<std::string> bearerToken(const std::optional<std::string>& authorization);
    // Makes a session expire now; false when there is no such session.
    bool expire(const std::string& sessionToken);

  private:
    Clock clock_;
    std::chrono::seconds sessionLifetime_;
    mutable std::mutex mutex_;
    std::vector<Application> applications_;    // guarded by mutex_
    std::map<std::string, Session> sessions_;  // guarded by mutex_, by token
};

}  // namespace pindle::emulator
