// WSSecurityPolicy: how a WebSocket's TLS is set up and whether its server is trusted. The
// plain policy asks for TLS 1.2 or later, with or without validation of the certificate
// chain against the system's trust store, and accepts every server the TLS layer let
// through.
//
// Thread-safety: immutable after construction; use from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/net/stream/SocketStream.hpp"

namespace pindle {

class WSSecurityPolicy {
  public:
    static std::shared_ptr<WSSecurityPolicy> defaultPolicy();
    // A WSPinningSecurityPolicy; nothing when `certificates` is empty.
    static std::shared_ptr<WSSecurityPolicy> pinnningPolicyWithCertificates(
        std::vector<platform::Data> certificates);

    explicit WSSecurityPolicy(bool certificateChainValidationEnabled = true)
        : certificateChainValidationEnabled_(certificateChainValidationEnabled) {}
    virtual ~WSSecurityPolicy() = default;
    WSSecurityPolicy(const WSSecurityPolicy&) = delete;
    WSSecurityPolicy& operator=(const WSSecurityPolicy&) = delete;

    bool certificateChainValidationEnabled() const { return certificateChainValidationEnabled_; }

    // The TLS settings for a connection to `peerName`.
    virtual platform::SocketStream::TLSSettings securityOptions(const std::string& peerName) const;
    // Whether the server that presented `certificates` (DER, leaf first) is trusted.
    virtual bool evaluateServerTrust(const std::vector<platform::Data>& certificates,
                                     const std::string& domain) const;

  private:
    const bool certificateChainValidationEnabled_;
};

}  // namespace pindle
