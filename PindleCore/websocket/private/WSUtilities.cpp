#include "PindleCore/websocket/private/WSUtilities.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "platform/crypto/SecureRandom.hpp"
#include "platform/files/ProcessInfo.hpp"
#include "platform/foundation/Base64.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle {

namespace {

std::string lowercasedScheme(const platform::URL& url) {
    return WSLowercased(url.scheme().value_or(""));
}

platform::Status posixStatus(int result) {
    if (result == 0)
        return platform::Status::success();
    platform::Dictionary info;
    info[platform::Error::localizedDescriptionKey] = std::string(std::strerror(result));
    return platform::Error(platform::POSIXError::domain, result, std::move(info));
}

}  // namespace

std::string WSLowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

WSMutex WSMutexInitRecursive() {
    auto mutex = std::make_unique<pthread_mutex_t>();
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        return nullptr;
    // A recursive POSIX mutex also refuses (EPERM) an unlock by a thread that does not hold it.
    bool made = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                pthread_mutex_init(mutex.get(), &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return made ? mutex.release() : nullptr;
}

void WSMutexDestroy(WSMutex mutex) {
    if (!mutex)
        return;
    pthread_mutex_destroy(mutex);
    delete mutex;
}

platform::Status WSMutexLock(WSMutex mutex) {
    return posixStatus(pthread_mutex_lock(mutex));
}

platform::Status WSMutexUnlock(WSMutex mutex) {
    return posixStatus(pthread_mutex_unlock(mutex));
}

platform::Error WSErrorWithDomainCodeDescription(const std::string& domain, std::int64_t code,
                                                 const std::string& description) {
    platform::Dictionary info;
    info[platform::Error::localizedDescriptionKey] = description;
    return platform::Error(domain, code, std::move(info));
}

platform::Error WSErrorWithCodeDescription(std::int64_t code, const std::string& description) {
    return WSErrorWithDomainCodeDescription(WSWebSocketErrorDomain, code, description);
}

platform::Error WSErrorWithCodeDescriptionUnderlyingError(std::int64_t code,
                                                          const std::string& description,
                                                          const platform::Error& underlying) {
    platform::Dictionary info;
    info[platform::Error::localizedDescriptionKey] = description;
    info["NSUnderlyingError"] = platform::Value(underlying);
    return platform::Error(WSWebSocketErrorDomain, code, std::move(info));
}

platform::Error WSHTTPErrorWithCodeDescription(int httpStatus, std::int64_t code,
                                               const std::string& description) {
    platform::Dictionary info;
    info[platform::Error::localizedDescriptionKey] = description;
    info[WSHTTPResponseErrorKey] = httpStatus;
    return platform::Error(WSWebSocketErrorDomain, code, std::move(info));
}

platform::SHA1::Digest WSSHA1HashFromString(std::string_view text) {
    return platform::SHA1::digest(text);
}

platform::SHA1::Digest WSSHA1HashFromBytes(const void* bytes, std::size_t length) {
    return platform::SHA1::digest(bytes, length);
}

std::string WSBase64EncodedStringFromData(const void* bytes, std::size_t length) {
    return platform::Base64::encode(std::string_view(static_cast<const char*>(bytes), length));
}

std::optional<platform::Data> WSRandomData(std::size_t length) {
    auto data = platform::SecureRandom::bytes(length);
    if (!data)
        WSErrorLog("Failed to generate random bytes.");
    return data;
}

std::string WSURLConnectHost(const platform::URL& url) {
    std::string host = url.host().value_or("");
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

std::string WSURLOrigin(const platform::URL& url) {
    std::string scheme = lowercasedScheme(url);
    if (scheme == "wss")
        scheme = "https";
    if (scheme == "ws")
        scheme = "http";
    std::string origin = scheme + "://" + url.host().value_or("");
    if (auto port = url.port()) {
        bool isDefault = (scheme == "http" && *port == 80) || (scheme == "https" && *port == 443);
        if (!isDefault)
            origin += ":" + std::to_string(*port);
    }
    return origin;
}

bool WSURLRequiresSSL(const platform::URL& url) {
    std::string scheme = lowercasedScheme(url);
    return scheme == "wss" || scheme == "https";
}

std::optional<std::string> WSBasicAuthorizationHeaderFromURL(const platform::URL& url) {
    if (!url.user())
        return std::nullopt;
    auto decode = [](const std::string& text) {
        return platform::PercentEncoding::decode(text).value_or(text);
    };
    std::string credentials = decode(*url.user()) + ":" + decode(url.password().value_or(""));
    return "Basic " + platform::Base64::encode(std::string_view(credentials));
}

int WSURLPort(const platform::URL& url) {
    if (auto port = url.port())
        return *port;
    return WSURLRequiresSSL(url) ? 443 : 80;
}

std::optional<platform::SocketStream::NetworkServiceType> WSStreamNetworkServiceTypeFromURLRequest(
    const WSURLRequest& request) {
    using From = platform::URLRequest::NetworkServiceType;
    using To = platform::SocketStream::NetworkServiceType;
    switch (request.networkServiceType) {
        case From::voip:
            return To::voip;
        case From::video:
            return To::video;
        case From::background:
            return To::background;
        case From::voice:
            return To::voice;
        case From::callSignaling:
            return To::callSignaling;
        default:
            return std::nullopt;
    }
}

std::size_t WSDefaultBufferSize() {
    return platform::ProcessInfo::pageSize();
}

std::optional<std::size_t> WSValidUTF8Prefix(const std::uint8_t* bytes, std::size_t length) {
    std::size_t i = 0;
    while (i < length) {
        std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The sequence length, and the range of the second byte that keeps the sequence
        // short-form, below U+110000 and outside the surrogates; checking the second byte
        // this way refuses a bad sequence even when the rest is still to come.
        std::size_t need;
        std::uint8_t low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        } else {
            return std::nullopt;
        }
        for (std::size_t j = 1; j <= need; ++j) {
            if (i + j >= length)
                return i;  // cut off by the end: later bytes may complete it
            std::uint8_t next = bytes[i + j];
            if (j == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80)
                return std::nullopt;
        }
        i += need + 1;
    }
    return i;
}

void WSMaskBytes(std::uint8_t* bytes, std::size_t length, const std::uint8_t key[4],
                 std::size_t keyOffset) {
    for (std::size_t i = 0; i < length; ++i) bytes[i] ^= key[(i + keyOffset) % 4];
}

void WSErrorLog(const std::string& text) {
    std::string_view pieces[] = {"[WebSocket] ", text, "\n"};
    platform::StandardError::writeGathered(pieces);
}

void WSDebugLog(const std::string&) {}

}  // namespace pindle
