#include "platform/net/private/TransportError.hpp"

#include <curl/curl.h>

#include <cerrno>

namespace pindle::platform {

namespace {

std::string descriptionOf(std::int64_t code) {
    switch (code) {
        case URLError::cancelled:
            return "cancelled";
        case URLError::badURL:
            return "unsupported URL";
        case URLError::timedOut:
            return "The request timed out.";
        case URLError::unsupportedURL:
            return "unsupported URL";
        case URLError::cannotFindHost:
            return "A server with the specified hostname could not be found.";
        case URLError::cannotConnectToHost:
            return "Could not connect to the server.";
        case URLError::networkConnectionLost:
            return "The network connection was lost.";
        case URLError::notConnectedToInternet:
            return "The Internet connection appears to be offline.";
        case URLError::badServerResponse:
            return "The server sent a response that could not be read.";
        case URLError::cannotDecodeContentData:
            return "The response body could not be decoded.";
        case URLError::secureConnectionFailed:
            return "A TLS error occurred and a secure connection to the server cannot be made.";
        case URLError::serverCertificateUntrusted:
            return "The certificate for this server is invalid.";
        case TransportError::tooManyRedirects:
            return "too many HTTP redirects";
        case TransportError::fileDoesNotExist:
            return "The file to upload does not exist.";
        default:
            return "An unknown error occurred.";
    }
}

std::int64_t urlErrorCode(CURLcode code, long osErrno) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return URLError::timedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return URLError::cannotFindHost;
        case CURLE_COULDNT_CONNECT:
            if (osErrno == ENETUNREACH || osErrno == ENETDOWN)
                return URLError::notConnectedToInternet;
            return URLError::cannotConnectToHost;
        case CURLE_URL_MALFORMAT:
            return URLError::badURL;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return URLError::unsupportedURL;
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return URLError::networkConnectionLost;
        case CURLE_PEER_FAILED_VERIFICATION:
            return URLError::serverCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return URLError::secureConnectionFailed;
        case CURLE_TOO_MANY_REDIRECTS:
            return TransportError::tooManyRedirects;
        case CURLE_WEIRD_SERVER_REPLY:
            return URLError::badServerResponse;
        case CURLE_BAD_CONTENT_ENCODING:
            return URLError::cannotDecodeContentData;
        default:
            return URLError::unknown;
    }
}

}  // namespace

Error TransportError::make(std::int64_t code, const std::string& failingURL) {
    Dictionary info;
    info[Error::localizedDescriptionKey] = descriptionOf(code);
    info[failingURLStringKey] = failingURL;
    return Error(URLError::domain, code, std::move(info));
}

Error TransportError::fromCurl(int curlCode, long osErrno, const std::string& failingURL) {
    const auto code = static_cast<CURLcode>(curlCode);
    if ((code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR) && osErrno == ECONNABORTED) {
        Dictionary info;
        info[Error::localizedDescriptionKey] = "Software caused connection abort";
        info[failingURLStringKey] = failingURL;
        return Error(POSIXError::domain, POSIXError::connectionAborted, std::move(info));
    }
    return make(urlErrorCode(code, osErrno), failingURL);
}

}  // namespace pindle::platform
