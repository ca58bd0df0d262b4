#include "tools/emulator/SessionsResource.hpp"

#include <nlohmann/json.hpp>

#include "tools/emulator/BackendDate.hpp"

namespace pindle::emulator {

SessionsResource::SessionsResource(SessionRegistry& sessions) : sessions_(sessions) {}

void SessionsResource::addRoutes(Router& router, const std::string& apiRoot) {
    router.add("POST", apiRoot + "/sessions",
               [this](const Request& request, const Router::Params&) { return open(request); });
}

Response SessionsResource::open(const Request& request) {
    auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        return Response::error(400, "the body must be a JSON object");
    }
    auto authorization = request.header("Authorization");
    std::optional<std::string> apiToken = SessionRegistry::bearerToken(authorization);
    if (!authorization && body.contains("apiToken") && body["apiToken"].is_string()) {
        apiToken = body["apiToken"].get<std::string>();
    }
    if (!apiToken) {
        return Response::error(401, "an API token is required");
    }
    if (!body.contains("identity") || !body["identity"].is_string()) {
        return Response::error(400, "\"identity\" must be a string");
    }
    auto session = sessions_.open(*apiToken, body["identity"].get<std::string>());
    if (!session) {
        return Response::error(401, "unknown API token");
    }
    return Response::json(200, {
                                   {"id", session->appID},
                                   {"identity", session->identity},
                                   {"sessionToken", session->token},
                                   {"createdAt", BackendDate::format(session->createdAt)},
                                   {"expiresAt", BackendDate::format(session->expiresAt)},
                               });
}

}  // namespace pindle::emulator
