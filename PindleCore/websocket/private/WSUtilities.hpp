// WSUtilities: the small helpers of the WebSocket client: a recursive mutex, its errors,
// hashing and encoding for the handshake, random bytes, the origin of a URL, UTF-8 checking
// of text frames and its console lines.
//
// Thread-safety: stateless functions; call from any thread. A WSMutex is as safe as the
// POSIX mutex it is.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PindleCore/websocket/WSURLRequest.hpp"
#include "platform/crypto/SHA1.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/net/stream/SocketStream.hpp"

namespace pindle {

inline constexpr const char* WSWebSocketErrorDomain = "WSWebSocketErrorDomain";
// The user-info key of the HTTP status of a refused handshake or proxy CONNECT.
inline constexpr const char* WSHTTPResponseErrorKey = "HTTPResponseStatusCode";

namespace WSErrorCode {
inline constexpr std::int64_t badResponseCode = 2132;
inline constexpr std::int64_t invalidHandshake = 2133;
inline constexpr std::int64_t notOpen = 2134;
inline constexpr std::int64_t writeFailed = 2145;
inline constexpr std::int64_t readBufferUnavailable = 1009;
// A call that would put an invalid frame on the wire (a ping over 125 bytes, a close code
// an endpoint may not send).
inline constexpr std::int64_t invalidFrame = 2135;
// The secure random source gave nothing for the handshake key or a masking key.
inline constexpr std::int64_t randomSourceFailed = 2136;
}  // namespace WSErrorCode

// A recursive POSIX mutex on the heap, made by WSMutexInitRecursive (nullptr when it could
// not be made) and ended by WSMutexDestroy. Lock and unlock answer what the POSIX call
// answered, as an error of the POSIX domain on failure (unlocking a mutex this thread does not
// hold, for one).
using WSMutex = pthread_mutex_t*;
WSMutex WSMutexInitRecursive();
// REQUIRES: no thread holds the mutex. Nothing for nullptr.
void WSMutexDestroy(WSMutex mutex);
platform::Status WSMutexLock(WSMutex mutex);
platform::Status WSMutexUnlock(WSMutex mutex);

platform::Error WSErrorWithDomainCodeDescription(const std::string& domain, std::int64_t code,
                                                 const std::string& description);
platform::Error WSErrorWithCodeDescription(std::int64_t code, const std::string& description);
platform::Error WSErrorWithCodeDescriptionUnderlyingError(std::int64_t code,
                                                          const std::string& description,
                                                          const platform::Error& underlying);
platform::Error WSHTTPErrorWithCodeDescription(int httpStatus, std::int64_t code,
                                               const std::string& description);

platform::SHA1::Digest WSSHA1HashFromString(std::string_view text);
platform::SHA1::Digest WSSHA1HashFromBytes(const void* bytes, std::size_t length);
std::string WSBase64EncodedStringFromData(const void* bytes, std::size_t length);

// `length` bytes of the secure random source; nothing when it fails, since a predictable
// key or mask is worse than no connection.
std::optional<platform::Data> WSRandomData(std::size_t length);

// `text` with its ASCII letters in lower case: schemes, header field names and tokens compare
// without regard to case.
std::string WSLowercased(std::string text);

// "http(s)://host[:port]", the port left out when it is the scheme's default.
std::string WSURLOrigin(const platform::URL& url);
// Whether the lower-cased scheme is "wss" or "https".
bool WSURLRequiresSSL(const platform::URL& url);
// "Basic " and the Base64 of "user:password", when the URL carries a user; nothing
// otherwise, so a URL without credentials sends no Authorization field.
std::optional<std::string> WSBasicAuthorizationHeaderFromURL(const platform::URL& url);
// The host to resolve, connect to, name in TLS and check the certificate against: the URL's
// host with the brackets of an IPv6 literal removed. Header fields keep the brackets.
std::string WSURLConnectHost(const platform::URL& url);
// The port to connect to: the URL's, else 443 for TLS and 80 without.
int WSURLPort(const platform::URL& url);

// The stream's service type for a request of the VoIP, video, background, voice or
// call-signalling type; nothing for the others.
std::optional<platform::SocketStream::NetworkServiceType> WSStreamNetworkServiceTypeFromURLRequest(
    const WSURLRequest& request);

// Bytes read from a stream at once, and the threshold for compacting buffers: a memory page.
std::size_t WSDefaultBufferSize();

// Scans `length` bytes as UTF-8. Returns how many of them form whole, valid sequences; a
// sequence cut off by the end is left out (it may be completed by later bytes). Nothing
// when an invalid sequence occurs.
std::optional<std::size_t> WSValidUTF8Prefix(const std::uint8_t* bytes, std::size_t length);

// Exclusive-or of byte i with key[(i + keyOffset) % 4], in place.
void WSMaskBytes(std::uint8_t* bytes, std::size_t length, const std::uint8_t key[4],
                 std::size_t keyOffset = 0);

// Writes "[WebSocket] <text>" to the system console.
void WSErrorLog(const std::string& text);
// The client's debugging lines: written nowhere.
void WSDebugLog(const std::string& text);

}  // namespace pindle
