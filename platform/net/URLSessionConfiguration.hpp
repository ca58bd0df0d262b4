// URLSessionConfiguration: the settings a URL session is made with. The session copies
// them when it is made; later changes to the configuration do not reach it.
//
// Thread-safety: a plain value type.
#pragma once

#include <optional>
#include <string>

#include "platform/net/URLRequest.hpp"

namespace pindle::platform {

class URLSessionConfiguration {
  public:
    static constexpr int defaultMaximumConnectionsPerHost = 6;

    // The settings of a session for ordinary foreground loading.
    static URLSessionConfiguration defaultConfiguration() { return {}; }

    // At most this many connections to one host at once; further requests to that host
    // wait for one of them.
    int httpMaximumConnectionsPerHost = defaultMaximumConnectionsPerHost;

    // Recorded for callers that read it back; requests carry their own policy.
    URLRequest::CachePolicy requestCachePolicy = URLRequest::CachePolicy::useProtocolCachePolicy;
    double timeoutIntervalForRequest = URLRequest::defaultTimeoutInterval;
    bool httpShouldUsePipelining = false;

    // A PEM file of certificate authorities trusted in addition to the system's, so tests can
    // talk TLS to a server with a certificate of their own making.
    std::optional<std::string> additionalTrustedCAFile;
};

}  // namespace pindle::platform
