// WSURLRequest: what a WebSocket is opened with: the address, the time allowed for
// connecting, extra header fields, cookies and the certificates to pin.
//
// Thread-safety: a plain value type.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/net/URLRequest.hpp"

namespace pindle {

struct WSURLRequest {
    static constexpr double defaultTimeoutInterval = 60.0;

    explicit WSURLRequest(platform::URL address) : url(std::move(address)) {}

    platform::URL url;
    // Seconds until a socket still connecting fails; 0 or less: no limit.
    double timeoutInterval = defaultTimeoutInterval;
    // Sent after the handshake's own fields, replacing those of the same name.
    std::vector<std::pair<std::string, std::string>> headerFields;
    // Name and value of each cookie to send, in one "Cookie" field.
    std::vector<std::pair<std::string, std::string>> cookies;
    // DER certificates; when set, the server's chain must verify up to one of them.
    std::optional<std::vector<platform::Data>> pinnedCertificates;
    // What the connection is for; see WSStreamNetworkServiceTypeFromURLRequest.
    platform::URLRequest::NetworkServiceType networkServiceType =
        platform::URLRequest::NetworkServiceType::standard;
};

}  // namespace pindle
