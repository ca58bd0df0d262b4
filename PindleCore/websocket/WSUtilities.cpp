#include "PindleCore/websocket/WSUtilities.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/crypto/SecureRandom.hpp"
#include "platform/foundation/Base64.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle {

namespace {

std::string lowercasedScheme(const platform::URL& url) {
    std::string scheme = url.scheme().value_or("");
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

}  // namespace

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

std::string WSBase64EncodedStringFromData(const void* bytes, std::size_t length) {
    return platform::Base64::encode(std::string_view(static_cast<const char*>(bytes), length));
}

platform::Data WSRandomData(std::size_t length) {
    platform::Data data(length);
    if (!platform::SecureRandom::fill(data.data(), length))
        WSErrorLog("The secure random source failed; using zero bytes.");
    return data;
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

std::size_t WSDefaultBufferSize() {
    static const std::size_t size = [] {
        long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<std::size_t>(page) : std::size_t{4096};
    }();
    return size;
}

std::optional<std::size_t> WSValidUTF8Prefix(const std::uint8_t* bytes, std::size_t length) {
    std::size_t i = 0;
    while (i < length) {
        std::uint8_t lead = bytes[i];
        std::size_t need;
        std::uint32_t minimum;
        std::uint32_t point;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            need = 1, minimum = 0x80, point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            need = 2, minimum = 0x800, point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            need = 3, minimum = 0x10000, point = lead & 0x07;
        } else {
            return std::nullopt;
        }
        std::size_t j = 1;
        for (; j <= need && i + j < length; ++j) {
            if ((bytes[i + j] & 0xC0) != 0x80)
                return std::nullopt;
            point = (point << 6) | (bytes[i + j] & 0x3F);
        }
        if (j <= need) {
            // Cut off by the end: reject only what can already be told to be wrong.
            if (lead == 0xC0 || lead == 0xC1 || lead > 0xF4)
                return std::nullopt;
            return i;
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return std::nullopt;
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

}  // namespace pindle
