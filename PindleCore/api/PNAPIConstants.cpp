#include "PindleCore/api/PNAPIConstants.hpp"

#include <mutex>

namespace pindle {

namespace {

struct Gateway {
    std::mutex mutex;
    std::string host = PNAPIConstants::defaultGatewayHost;  // guarded by mutex
    bool secure = true;                                     // guarded by mutex
};

Gateway& gateway() {
    static Gateway* instance = new Gateway;  // never destroyed: read from worker threads at exit
    return *instance;
}

}  // namespace

void PNAPIConstants::setGateway(std::string host, bool secure) {
    Gateway& g = gateway();
    std::lock_guard lock(g.mutex);
    g.host = std::move(host);
    g.secure = secure;
}

std::string PNAPIConstants::gatewayHost() {
    Gateway& g = gateway();
    std::lock_guard lock(g.mutex);
    return g.host;
}

bool PNAPIConstants::isSecure() {
    Gateway& g = gateway();
    std::lock_guard lock(g.mutex);
    return g.secure;
}

std::string PNAPIConstants::apiRoot() {
    return gatewayHost() + versionPath;
}

std::string PNAPIConstants::apiProtocol() {
    return isSecure() ? "https" : "http";
}

std::string PNAPIConstants::notificationsProtocol() {
    return isSecure() ? "wss" : "ws";
}

}  // namespace pindle
