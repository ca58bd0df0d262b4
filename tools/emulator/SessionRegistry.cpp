#include "tools/emulator/SessionRegistry.hpp"

#include <algorithm>
#include <cctype>

#include "tools/emulator/Tokens.hpp"

namespace pindle::emulator {

SessionRegistry::SessionRegistry(Clock clock, std::chrono::seconds sessionLifetime)
    : clock_(std::move(clock)), sessionLifetime_(sessionLifetime) {}

void SessionRegistry::addApplication(Application application) {
    std::scoped_lock lock(mutex_);
    std::erase_if(applications_, [&](const Application& known) {
        return known.id == application.id || known.apiToken == application.apiToken;
    });
    applications_.push_back(std::move(application));
}

std::vector<SessionRegistry::Application> SessionRegistry::applications() const {
    std::scoped_lock lock(mutex_);
    return applications_;
}

std::optional<SessionRegistry::Session> SessionRegistry::open(const std::string& apiToken,
                                                              const std::string& identity) {
    auto now = clock_();
    auto token = Tokens::randomToken();
    std::scoped_lock lock(mutex_);
    auto application = std::find_if(applications_.begin(), applications_.end(),
                                    [&](const auto& known) { return known.apiToken == apiToken; });
    if (apiToken.empty() || application == applications_.end()) {
        return std::nullopt;
    }
    Session session{token, application->id, identity, now,
                    now + std::chrono::milliseconds(sessionLifetime_).count()};
    sessions_[token] = session;
    return session;
}

std::optional<SessionRegistry::Caller> SessionRegistry::authorize(const std::string& token) const {
    if (token.empty()) {
        return std::nullopt;
    }
    auto now = clock_();
    std::scoped_lock lock(mutex_);
    for (const auto& application : applications_) {
        if (application.apiToken == token) {
            return Caller{application.id, "", false};
        }
    }
    auto it = sessions_.find(token);
    if (it == sessions_.end() || it->second.expiresAt <= now) {
        return std::nullopt;
    }
    return Caller{it->second.appID, it->second.identity, true};
}

std::optional<SessionRegistry::Caller> SessionRegistry::authorizeHeader(
    const std::optional<std::string>& authorization) const {
    auto token = bearerToken(authorization);
    return token ? authorize(*token) : std::nullopt;
}

std::optional<std::string> SessionRegistry::bearerToken(
    const std::optional<std::string>& authorization) {
    constexpr std::string_view scheme = "bearer ";
    if (!authorization || authorization->size() <= scheme.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>((*authorization)[i])) != scheme[i]) {
            return std::nullopt;
        }
    }
    return authorization->substr(scheme.size());
}

bool SessionRegistry::expire(const std::string& sessionToken) {
    auto now = clock_();
    std::scoped_lock lock(mutex_);
    auto it = sessions_.find(sessionToken);
    if (it == sessions_.end()) {
        return false;
    }
    it->second.expiresAt = now;
    return true;
}

}  // namespace pindle::emulator
