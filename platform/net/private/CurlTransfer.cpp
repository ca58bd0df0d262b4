#include "platform/net/private/CurlTransfer.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/foundation/Status.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/private/HTTPFieldText.hpp"
#include "platform/net/private/TransportError.hpp"

namespace pindle::platform {

namespace {

constexpr long maximumRedirects = 16;
constexpr std::int64_t minimumUploadBuffer = 64 * 1024;
constexpr std::int64_t maximumUploadBuffer = 512 * 1024;
// A body in memory up to this size is handed to libcurl as it is, which sends it with the
// request's header in one write: read through the callback, it went out in a write of its
// own, one more segment for the server to wait for before it can answer.
constexpr std::int64_t inlineBodyLimit = 64 * 1024;
// A reply is read from the socket up to this much at a time: half of what a task queues for a
// lagging delegate before it holds the transfer back. libcurl's default of 16 KiB made a large
// download one receive and one poll per 16 KiB, most of its processor time.
constexpr long receiveBufferSize = 128 * 1024;
constexpr const char* allowedProtocols = "http,https";
// Used next to an added CA file so that the system's authorities stay trusted.
constexpr const char* systemCertificateDirectory = "/etc/ssl/certs";

using http_field_text::lowercased;

std::string_view trimmed(std::string_view text) {
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

std::pair<std::shared_ptr<CurlTransfer>, std::optional<Error>> CurlTransfer::make(
    const URLRequest& request, std::optional<Body> body,
    const URLSessionConfiguration& configuration, std::shared_ptr<TransferEvents> events) {
    if (!request.url())
        return {nullptr, TransportError::make(URLError::badURL, "")};
    const std::string& urlText = request.url()->absoluteString();
    const auto& scheme = request.url()->scheme();
    if (!scheme)
        return {nullptr, TransportError::make(URLError::badURL, urlText)};
    const std::string lowerScheme = lowercased(*scheme);
    if (lowerScheme != "http" && lowerScheme != "https") {
        return {nullptr, TransportError::make(URLError::unsupportedURL, urlText)};
    }
    if (!request.url()->host() || request.url()->host()->empty()) {
        return {nullptr, TransportError::make(URLError::badURL, urlText)};
    }
    auto transfer = std::make_shared<CurlTransfer>(Key(), urlText, std::move(events));
    if (!transfer->handle_) {
        return {nullptr, TransportError::make(URLError::unknown, urlText)};
    }
    if (const platform::Status configured =
            transfer->configure(request, std::move(body), configuration);
        !configured.ok()) {
        return {nullptr, configured.error()};
    }
    return {std::move(transfer), std::nullopt};
}

CurlTransfer::CurlTransfer(Key, std::string urlText, std::shared_ptr<TransferEvents> events)
    : urlText_(std::move(urlText)), events_(std::move(events)), handle_(curl_easy_init()) {}

CurlTransfer::~CurlTransfer() {
    if (handle_)
        curl_easy_cleanup(handle_);
    curl_slist_free_all(headerList_);
    if (bodyFile_)
        std::fclose(bodyFile_);
}

platform::Status CurlTransfer::configure(const URLRequest& request, std::optional<Body> body,
                                         const URLSessionConfiguration& configuration) {
    CURL* h = handle_;
    curl_easy_setopt(h, CURLOPT_URL, urlText_.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, allowedProtocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, maximumRedirects);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (configuration.additionalTrustedCAFile) {
        curl_easy_setopt(h, CURLOPT_CAINFO, configuration.additionalTrustedCAFile->c_str());
        curl_easy_setopt(h, CURLOPT_CAPATH, systemCertificateDirectory);
    }

    // The time-out is an idle limit: the connection attempt may take that long, and once
    // connected the transfer fails when not a byte moves for that long.
    const double timeout = request.timeoutInterval();
    if (timeout > 0) {
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::ceil(timeout * 1000)));
        // libcurl's own low-speed check averages over several seconds; the idle limit is
        // enforced in onProgress, which libcurl calls at least about once a second.
        idleTimeout_ = std::chrono::milliseconds(static_cast<long long>(std::ceil(timeout * 1000)));
    }

    // Header fields exactly as the caller set them. libcurl adds some of its own unless told
    // not to: an empty "Name:" line suppresses one, "Name;" sends an empty value.
    bool hasAccept = false, hasExpect = false, hasContentType = false;
    for (const auto& [name, value] : request.allHTTPHeaderFields()) {
        const std::string lowerName = lowercased(name);
        hasAccept |= lowerName == "accept";
        hasExpect |= lowerName == "expect";
        hasContentType |= lowerName == "content-type";
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headerList_ = curl_slist_append(headerList_, line.c_str());
    }
    if (!hasAccept)
        headerList_ = curl_slist_append(headerList_, "Accept:");
    if (!hasExpect)
        headerList_ = curl_slist_append(headerList_, "Expect:");
    if (!hasContentType)
        headerList_ = curl_slist_append(headerList_, "Content-Type:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList_);

    if (!body && request.httpBody())
        body = Body{request.sharedHTTPBody(), std::nullopt, 0, std::nullopt};
    const std::string& method = request.httpMethod();
    if (body) {
        if (platform::Status opened = openBody(std::move(*body)); !opened.ok())
            return opened;
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength_));
        if (bodyBytes_ && bodyLength_ <= inlineBodyLimit) {
            // bodyBytes_ is immutable and lives as long as the transfer; libcurl does not
            // copy it and sends it again itself on a redirect or an authentication round.
            // (An empty vector's data() may be null, which would mean "use the read callback".)
            const char* bytes =
                bodyBytes_->empty() ? "" : reinterpret_cast<const char*>(bodyBytes_->data());
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, bytes);
        } else {
            // A body up to half a mebibyte goes out in one read and one send instead of a
            // round of each per 64 KiB, libcurl's default.
            curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE,
                             static_cast<long>(std::clamp(bodyLength_, minimumUploadBuffer,
                                                          maximumUploadBuffer)));
            curl_easy_setopt(h, CURLOPT_READFUNCTION, &CurlTransfer::onRead);
            curl_easy_setopt(h, CURLOPT_READDATA, this);
            curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &CurlTransfer::onSeek);
            curl_easy_setopt(h, CURLOPT_SEEKDATA, this);
        }
        if (method != "POST")
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, receiveBufferSize);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlTransfer::onWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    return std::nullopt;
}

platform::Status CurlTransfer::openBody(Body body) {
    if (!body.filePath) {
        bodyBytes_ = body.bytes ? std::move(body.bytes) : std::make_shared<const Data>();
        bodyLength_ = static_cast<std::int64_t>(bodyBytes_->size());
        return std::nullopt;
    }
    bodyFile_ = std::fopen(body.filePath->c_str(), "rb");
    if (!bodyFile_)
        return TransportError::make(TransportError::fileDoesNotExist, urlText_);
    if (std::fseek(bodyFile_, 0, SEEK_END) != 0) {
        return TransportError::make(URLError::cannotOpenFile, urlText_);
    }
    const std::int64_t fileSize = ftello(bodyFile_);
    const std::int64_t offset = std::clamp<std::int64_t>(body.fileOffset, 0, fileSize);
    bodyFileOffset_ = offset;
    bodyLength_ = std::min(body.fileLength.value_or(fileSize - offset), fileSize - offset);
    if (bodyLength_ < 0 || fseeko(bodyFile_, offset, SEEK_SET) != 0) {
        return TransportError::make(URLError::cannotOpenFile, urlText_);
    }
    return std::nullopt;
}

bool CurlTransfer::reportResponse() {
    responseReported_ = true;
    long status = 0;
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
    char* effectiveURL = nullptr;
    curl_easy_getinfo(handle_, CURLINFO_EFFECTIVE_URL, &effectiveURL);
    std::optional<URL> url = URL::fromString(effectiveURL ? effectiveURL : urlText_);
    if (!url)
        url = URL::fromString(urlText_);
    auto response = std::make_shared<HTTPURLResponse>(std::move(url), static_cast<int>(status),
                                                      responseFields_);
    return events_->transferDidReceiveResponse(std::move(response));
}

size_t CurlTransfer::onHeader(char* buffer, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    if (transfer->responseReported_)
        return length;  // trailers
    const std::string_view line(buffer, length);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->responseFields_.clear();
        transfer->finalHeadersComplete_ = false;
        return length;
    }
    if (trimmed(line).empty()) {
        long status = 0;
        curl_easy_getinfo(transfer->handle_, CURLINFO_RESPONSE_CODE, &status);
        char* redirectTarget = nullptr;
        curl_easy_getinfo(transfer->handle_, CURLINFO_REDIRECT_URL, &redirectTarget);
        const bool informational = status >= 100 && status < 200;
        const bool followed = isRedirectStatus(status) && redirectTarget != nullptr;
        transfer->finalHeadersComplete_ = !informational && !followed;
        return length;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !transfer->responseFields_.empty()) {
        auto& value = transfer->responseFields_.back().second;
        value += " ";
        value += trimmed(line);
        return length;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return length;
    transfer->responseFields_.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                           std::string(trimmed(line.substr(colon + 1))));
    return length;
}

size_t CurlTransfer::onWrite(char* buffer, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    if (!transfer->responseReported_) {
        transfer->finalHeadersComplete_ = true;
        if (!transfer->reportResponse()) {
            transfer->pausedForEvents_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
    }
    switch (transfer->events_->transferDidReceiveData(reinterpret_cast<const std::uint8_t*>(buffer),
                                                      length)) {
        case TransferEvents::Taking::taken:
            break;
        case TransferEvents::Taking::takenThenPause:
            // Both directions, so that libcurl does not look at the socket again, and read
            // bytes it would then have to keep, before the transfer is resumed.
            transfer->pausedForEvents_ = true;
            curl_easy_pause(transfer->handle_, CURLPAUSE_ALL);
            return length;
        case TransferEvents::Taking::refused:
            transfer->pausedForEvents_ = true;
            return CURL_WRITEFUNC_PAUSE;
    }
    transfer->pausedForEvents_ = false;
    transfer->lastActivity_ = std::chrono::steady_clock::now();
    return length;
}

size_t CurlTransfer::onRead(char* buffer, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const std::int64_t wanted = std::min<std::int64_t>(
        static_cast<std::int64_t>(size * count), transfer->bodyLength_ - transfer->bodyPosition_);
    if (wanted <= 0)
        return 0;
    size_t produced = 0;
    if (transfer->bodyFile_) {
        produced = std::fread(buffer, 1, static_cast<size_t>(wanted), transfer->bodyFile_);
        if (produced == 0)
            return CURL_READFUNC_ABORT;
    } else {
        std::memcpy(buffer, transfer->bodyBytes_->data() + transfer->bodyPosition_,
                    static_cast<size_t>(wanted));
        produced = static_cast<size_t>(wanted);
    }
    transfer->bodyPosition_ += static_cast<std::int64_t>(produced);
    return produced;
}

// libcurl rewinds the body when a redirect or an authentication round sends it again.
int CurlTransfer::onSeek(void* self, curl_off_t offset, int origin) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    if (origin != SEEK_SET || offset < 0 || offset > transfer->bodyLength_) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    if (transfer->bodyFile_ &&
        fseeko(transfer->bodyFile_, transfer->bodyFileOffset_ + offset, SEEK_SET) != 0) {
        return CURL_SEEKFUNC_FAIL;
    }
    transfer->bodyPosition_ = offset;
    transfer->reportedBytesSent_ = std::min<std::int64_t>(transfer->reportedBytesSent_, offset);
    return CURL_SEEKFUNC_OK;
}

int CurlTransfer::onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                             curl_off_t uploaded) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (downloaded != transfer->lastDownloaded_ || uploaded != transfer->lastUploaded_ ||
        transfer->pausedForEvents_) {
        transfer->lastDownloaded_ = downloaded;
        transfer->lastUploaded_ = uploaded;
        transfer->lastActivity_ = now;
    } else if (transfer->idleTimeout_.count() > 0 &&
               now - transfer->lastActivity_ >= transfer->idleTimeout_) {
        transfer->idleTimedOut_ = true;
        return 1;  // aborts the transfer
    }
    if (uploaded > transfer->reportedBytesSent_) {
        const std::int64_t delta = uploaded - transfer->reportedBytesSent_;
        transfer->reportedBytesSent_ = uploaded;
        transfer->events_->transferDidSendBodyData(delta, uploaded, transfer->bodyLength_);
    }
    return 0;
}

void CurlTransfer::didResume() {
    pausedForEvents_ = false;
    lastActivity_ = std::chrono::steady_clock::now();
}

void CurlTransfer::finish(CURLcode result) {
    if (!responseReported_ && finalHeadersComplete_)
        reportResponse();
    std::optional<Error> error;
    if (idleTimedOut_) {
        error = TransportError::make(URLError::timedOut, urlText_);
    } else if (result != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(handle_, CURLINFO_OS_ERRNO, &osErrno);
        error = TransportError::fromCurl(result, osErrno, urlText_);
    }
    events_->transferDidFinish(std::move(error));
}

}  // namespace pindle::platform
