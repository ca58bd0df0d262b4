#include "tools/emulator/Response.hpp"

namespace pindle::emulator {

Response Response::json(unsigned status, const nlohmann::json& body, Headers headers) {
    Response response;
    response.status = status;
    response.headers = std::move(headers);
    if (!response.headers.contains("Content-Type")) {
        response.headers.add("Content-Type", "application/json");
    }
    response.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

Response Response::text(unsigned status, std::string body, std::string contentType) {
    Response response;
    response.status = status;
    response.headers.add("Content-Type", std::move(contentType));
    response.body = std::move(body);
    return response;
}

Response Response::empty(unsigned status) {
    Response response;
    response.status = status;
    return response;
}

Response Response::error(unsigned status, std::string message) {
    return json(status, {{"error", std::move(message)}});
}

Response& Response::withHeader(std::string name, std::string value) {
    headers.set(std::move(name), std::move(value));
    return *this;
}

}  // namespace pindle::emulator
