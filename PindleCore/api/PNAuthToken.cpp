#include "PindleCore/api/PNAuthToken.hpp"

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNLogger.hpp"

namespace pindle {

std::optional<std::string> PNAuthToken::authHeader() {
    const std::shared_ptr<PNSession>& session = PNSession::current();
    const bool secure = session->secureModeEnabled();
    std::optional<std::string> token = secure ? session->sessionToken() : session->apiToken();
    if (!token) {
        PNLogger(PNLoggerType::RQST)
            .log(secure ? "PNAccount.authToken should be not nil"
                        : "PNAccount.appSecretToken should be not nil");
        return std::nullopt;
    }
    return "Bearer " + *token;
}

}  // namespace pindle
