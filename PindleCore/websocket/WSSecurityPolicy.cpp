#include "PindleCore/websocket/WSSecurityPolicy.hpp"

#include "PindleCore/websocket/WSPinningSecurityPolicy.hpp"

namespace pindle {

std::shared_ptr<WSSecurityPolicy> WSSecurityPolicy::defaultPolicy() {
    return std::make_shared<WSSecurityPolicy>();
}

std::shared_ptr<WSSecurityPolicy> WSSecurityPolicy::pinnningPolicyWithCertificates(
    std::vector<platform::Data> certificates) {
    return WSPinningSecurityPolicy::create(std::move(certificates));
}

platform::SocketStream::TLSSettings WSSecurityPolicy::securityOptions(
    const std::string& peerName) const {
    return {peerName, certificateChainValidationEnabled_};
}

bool WSSecurityPolicy::evaluateServerTrust(const std::vector<platform::Data>&,
                                           const std::string&) const {
    return true;
}

}  // namespace pindle
