// CurlTransfer: one HTTP exchange as a libcurl easy handle, set up from a URLRequest.
//
// It puts the request on the wire as written (method verbatim, the caller's header fields
// and no others of its own beyond what HTTP needs: no default Accept, no Expect, no
// Content-Type, no User-Agent), follows redirects, decodes compressed bodies, verifies TLS
// peers, and reports headers, body chunks, upload progress and the end through its
// TransferEvents.
//
// Thread-safety: made on any thread, then used only by the network thread (see
// NetworkThread) until it is finished or removed.
//
// Private to platform/net: libcurl stays out of the installed headers, so a host never
// compiles against it and the transport can change without breaking the SDK's ABI.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/net/RequestBody.hpp"
#include "platform/net/TransferEvents.hpp"
#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSessionConfiguration.hpp"

namespace pindle::platform {

class CurlTransfer {
  public:
    using Body = RequestBody;

    // A transfer of `request` with `body` (when given, instead of the request's own body).
    // Fails with a URL-loading error when the request cannot be sent at all (no URL, a scheme
    // other than http/https, a body file that cannot be read).
    static std::pair<std::shared_ptr<CurlTransfer>, std::optional<Error>> make(
        const URLRequest& request, std::optional<Body> body,
        const URLSessionConfiguration& configuration, std::shared_ptr<TransferEvents> events);

    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    CURL* handle() const { return handle_; }

    // Reports the end of the transfer with libcurl's result; network thread only.
    void finish(CURLcode result);
    // The transfer was paused and has been let go on; network thread only.
    void didResume();

  private:
    struct Key {
        explicit Key() = default;
    };

  public:
    CurlTransfer(Key, std::string urlText, std::shared_ptr<TransferEvents> events);

  private:
    platform::Status configure(const URLRequest& request, std::optional<Body> body,
                               const URLSessionConfiguration& configuration);
    platform::Status openBody(Body body);
    // Hands the response received so far to the events; false holds the body back.
    bool reportResponse();

    static size_t onHeader(char* buffer, size_t size, size_t count, void* self);
    static size_t onWrite(char* buffer, size_t size, size_t count, void* self);
    static size_t onRead(char* buffer, size_t size, size_t count, void* self);
    static int onSeek(void* self, curl_off_t offset, int origin);
    static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                          curl_off_t uploadTotal, curl_off_t uploaded);

    const std::string urlText_;
    const std::shared_ptr<TransferEvents> events_;
    CURL* const handle_;
    curl_slist* headerList_ = nullptr;

    // Request body.
    std::shared_ptr<const Data> bodyBytes_;
    std::FILE* bodyFile_ = nullptr;
    std::int64_t bodyFileOffset_ = 0;
    std::int64_t bodyLength_ = 0;
    std::int64_t bodyPosition_ = 0;
    std::int64_t reportedBytesSent_ = 0;

    // The idle time-out: the transfer ends with URLError::timedOut once no byte has moved for
    // this long (zero: none). Time spent paused for a slow delegate does not count.
    std::chrono::milliseconds idleTimeout_{0};
    std::chrono::steady_clock::time_point lastActivity_ = std::chrono::steady_clock::now();
    curl_off_t lastDownloaded_ = 0;
    curl_off_t lastUploaded_ = 0;
    bool pausedForEvents_ = false;
    bool idleTimedOut_ = false;

    // Header fields of the response being received; a new status line starts them afresh.
    std::vector<std::pair<std::string, std::string>> responseFields_;
    bool finalHeadersComplete_ = false;
    bool responseReported_ = false;
};

}  // namespace pindle::platform
