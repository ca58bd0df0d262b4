#include "PindleCore/websocket/WSPinningSecurityPolicy.hpp"

#include <algorithm>

namespace pindle {

std::shared_ptr<WSPinningSecurityPolicy> WSPinningSecurityPolicy::create(
    std::vector<platform::Data> certificates) {
    if (certificates.empty())
        return nullptr;
    return std::make_shared<WSPinningSecurityPolicy>(std::move(certificates));
}

bool WSPinningSecurityPolicy::evaluateServerTrust(const std::vector<platform::Data>& certificates,
                                                  const std::string&) const {
    for (const auto& presented : certificates) {
        if (std::find(pinnedCertificates_.begin(), pinnedCertificates_.end(), presented) !=
            pinnedCertificates_.end())
            return true;
    }
    return false;
}

}  // namespace pindle
