// TransportError: turns libcurl's result codes into the URL-loading errors the SDK reads.
//
// The mapping, by what went wrong:
//   time-out (connect or idle)                  URLError::timedOut        -1001
//   host name does not resolve                  URLError::cannotFindHost  -1003
//   connection refused / host unreachable       URLError::cannotConnectToHost -1004
//   no route to any network                     URLError::notConnectedToInternet -1009
//   peer closed or reset mid-exchange           URLError::networkConnectionLost -1005
//   peer aborted the connection (ECONNABORTED)  POSIXError::connectionAborted 53
//   malformed URL                               URLError::badURL          -1000
//   scheme other than http/https                URLError::unsupportedURL  -1002
//   TLS handshake failure                       URLError::secureConnectionFailed -1200
//   untrusted server certificate                URLError::serverCertificateUntrusted -1202
// Only a socket error that the kernel itself reports as ECONNABORTED becomes POSIX 53; a
// reset or an early close is a lost connection (-1005), as the SDK's retry rules expect.
// Every error carries the failing URL text under failingURLStringKey.
//
// Thread-safety: stateless.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class TransportError {
  public:
    TransportError() = delete;

    static constexpr const char* failingURLStringKey = "NSErrorFailingURLStringKey";
    static constexpr std::int64_t tooManyRedirects = -1007;
    static constexpr std::int64_t fileDoesNotExist = -1100;

    // The error for a failed transfer: `curlCode` is the CURLcode, `osErrno` the last socket
    // errno libcurl saw (0 if none).
    static Error fromCurl(int curlCode, long osErrno, const std::string& failingURL);

    // A URL-loading error of `code` for `failingURL`, with a description of its own.
    static Error make(std::int64_t code, const std::string& failingURL);
};

}  // namespace pindle::platform
