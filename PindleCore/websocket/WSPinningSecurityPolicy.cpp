#include "PindleCore/websocket/WSPinningSecurityPolicy.hpp"

#include "platform/crypto/CertificateTrust.hpp"

namespace pindle {

std::shared_ptr<WSPinningSecurityPolicy> WSPinningSecurityPolicy::create(
    std::vector<platform::Data> certificates) {
    if (certificates.empty())
        return nullptr;
    return std::make_shared<WSPinningSecurityPolicy>(std::move(certificates));
}

bool WSPinningSecurityPolicy::evaluateServerTrust(const std::vector<platform::Data>& certificates,
                                                  const std::string& domain) const {
    return platform::CertificateTrust::chainReachesAnchor(certificates, pinnedCertificates_,
                                                          domain);
}

}  // namespace pindle
