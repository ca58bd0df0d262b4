// WSPinningSecurityPolicy: trusts a server only when its certificate chain contains one of
// a fixed set of certificates (compared byte for byte, DER). Chain validation against the
// system's trust store is off: the pins decide.
//
// Thread-safety: immutable after construction; use from any thread.
#pragma once

#include <memory>
#include <vector>

#include "PindleCore/websocket/WSSecurityPolicy.hpp"

namespace pindle {

class WSPinningSecurityPolicy : public WSSecurityPolicy {
  public:
    // Nothing when `certificates` is empty: a pinning policy needs at least one pin.
    static std::shared_ptr<WSPinningSecurityPolicy> create(
        std::vector<platform::Data> certificates);

    explicit WSPinningSecurityPolicy(std::vector<platform::Data> certificates)
        : WSSecurityPolicy(false), pinnedCertificates_(std::move(certificates)) {}

    const std::vector<platform::Data>& pinnedCertificates() const { return pinnedCertificates_; }

    bool evaluateServerTrust(const std::vector<platform::Data>& certificates,
                             const std::string& domain) const override;

  private:
    const std::vector<platform::Data> pinnedCertificates_;
};

}  // namespace pindle
