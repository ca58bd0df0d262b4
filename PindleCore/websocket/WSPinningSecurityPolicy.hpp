// WSPinningSecurityPolicy: trusts a server only when the chain it presents verifies up to
// one of a fixed set of certificates (DER), used as the only trust anchors, and the leaf
// names the host. A pin may be the leaf itself, an intermediate or a root; the system's
// trust store plays no part, so the TLS layer's own chain validation is off and this
// policy decides. Presenting a copy of a pinned certificate proves nothing: it must sign
// (directly or through the chain) the leaf whose key the server holds.
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

    // `certificates` as presented, leaf first; `domain` is a host name or an IP address
    // without brackets. False when no certificate was presented, one does not parse, the
    // chain does not reach a pin, a certificate on the way is out of its validity period,
    // or the leaf is not for `domain`.
    bool evaluateServerTrust(const std::vector<platform::Data>& certificates,
                             const std::string& domain) const override;

  private:
    const std::vector<platform::Data> pinnedCertificates_;
};

}  // namespace pindle
