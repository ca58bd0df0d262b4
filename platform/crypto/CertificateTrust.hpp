// CertificateTrust: decides whether a certificate chain a TLS peer presented is trusted
// when a caller-chosen set of certificates, not the system's trust store, is the only
// source of trust (certificate pinning).
//
// Thread-safety: stateless; call from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"

namespace pindle::platform {

class CertificateTrust {
  public:
    // True when `presented` (DER, leaf first, as the peer sent them) builds a chain from
    // the leaf up to one of `anchors` (DER), every signature on the way checks, every
    // certificate is within its validity period now, and the leaf is for `peerName` (a
    // host name, or an IPv4/IPv6 address without brackets, matched against the
    // certificate's IP addresses). An anchor ends the chain wherever it sits: the leaf, an
    // intermediate or a root. Anything that does not parse refuses.
    static bool chainReachesAnchor(const std::vector<Data>& presented,
                                   const std::vector<Data>& anchors, const std::string& peerName);
};

}  // namespace pindle::platform
