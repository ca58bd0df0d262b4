// PNAPIConstants: the fixed vocabulary of the backend REST interface — the API root, the
// protocol, the two resources and, for every operation on a video, its path suffix and method.
//
// A URL is composed as apiProtocol() + "://" + apiRoot() + "/" + resource + suffix, where the
// suffix has had its "{videoID}" placeholder filled by PNPathMaker.
//
// The gateway host is a deployment setting: the host application calls setGateway() before it
// starts a session. The default is secure ("https", "wss"); local mode ("http", "ws") lets the
// SDK reach a backend emulator on loopback. A change affects only requests built afterwards.
//
// Thread-safety: all members are safe from any thread.
#pragma once

#include <string>

namespace pindle {

class PNAPIConstants {
  public:
    // Sets the gateway host (host[:port], no protocol, no trailing slash) and whether the
    // backend is reached over TLS.
    static void setGateway(std::string host, bool secure = true);
    static std::string gatewayHost();
    static bool isSecure();

    // The gateway host followed by the version path "/v1".
    static std::string apiRoot();
    // "https", or "http" in local mode.
    static std::string apiProtocol();
    // "wss", or "ws" in local mode: the protocol of the live notification channel.
    static std::string notificationsProtocol();

    static constexpr const char* versionPath = "/v1";
    static constexpr const char* defaultGatewayHost = "api.pindle.invalid";

    static constexpr const char* sessionAPIPath = "sessions";
    static constexpr const char* sessionAPIMethod = "POST";
    static constexpr const char* videosAPIPath = "videos";
    static constexpr const char* videoCreateAPIPath = "";
    static constexpr const char* videoCreateAPIMethod = "POST";
    static constexpr const char* videosFetchAPIPath = "";
    static constexpr const char* videosFetchAPIMethod = "GET";
    static constexpr const char* videoByIDAPIPath = "/{videoID}";
    static constexpr const char* videoByIDAPIMethod = "GET";
    static constexpr const char* videoRemoveByIDAPIPath = "/{videoID}";
    static constexpr const char* videoRemoveByIDAPIMethod = "DELETE";
    static constexpr const char* videoUpdateByIDAPIPath = "/{videoID}";
    static constexpr const char* videoUpdateByIDAPIMethod = "PUT";
    static constexpr const char* videoSyncAPIPath = "/sync";
    static constexpr const char* videoSyncAPIMethod = "GET";
    static constexpr const char* videoSignedUrlsAPIPath = "/{videoID}/signedUrl";
    static constexpr const char* videoSignedUrlsAPIMethod = "GET";
    static constexpr const char* videoConvertAPIPath = "/{videoID}/convert";
    static constexpr const char* videoConvertAPIMethod = "POST";
};

// Non-network constants read by other parts of the SDK.
namespace PNConstant {
namespace Playlist {
// Videos the paged legacy playlist asks for per page request.
inline constexpr long long videosPerRequest = 50;
}  // namespace Playlist
namespace Recording {
// The resolution a recording converted to MP4 is named after.
inline constexpr const char* r720p = "720p";
}  // namespace Recording
namespace Network {}
}  // namespace PNConstant

}  // namespace pindle
