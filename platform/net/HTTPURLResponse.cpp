#include "platform/net/HTTPURLResponse.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "platform/net/private/HTTPFieldText.hpp"

namespace pindle::platform {

namespace {

using http_field_text::lowercased;
using http_field_text::trimmed;

const std::string* findField(const StringDictionary& fields, std::string_view name) {
    const std::string wanted = lowercased(name);
    for (const auto& [fieldName, value] : fields) {
        if (lowercased(fieldName) == wanted)
            return &value;
    }
    return nullptr;
}

// The body length the client will see: a body that is decoded on the way in has no
// declared length.
std::int64_t expectedLength(const StringDictionary& fields) {
    if (const std::string* encoding = findField(fields, "Content-Encoding")) {
        const std::string coding = lowercased(trimmed(*encoding));
        if (!coding.empty() && coding != "identity")
            return URLResponse::unknownLength;
    }
    if (const std::string* length = findField(fields, "Content-Length")) {
        const std::string_view digits = trimmed(*length);
        std::int64_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc() && end == digits.data() + digits.size() && value >= 0) {
            return value;
        }
    }
    return URLResponse::unknownLength;
}

std::optional<std::string> mimeTypeOf(const StringDictionary& fields) {
    const std::string* type = findField(fields, "Content-Type");
    if (!type)
        return std::nullopt;
    std::string_view text = *type;
    text = text.substr(0, text.find(';'));
    std::string mime = lowercased(trimmed(text));
    if (mime.empty())
        return std::nullopt;
    return mime;
}

StringDictionary mergedFields(const std::vector<std::pair<std::string, std::string>>& fields) {
    StringDictionary merged;
    for (const auto& [name, value] : fields) {
        const std::string key = lowercased(name);
        auto existing = std::find_if(merged.begin(), merged.end(), [&](const auto& entry) {
            return lowercased(entry.first) == key;
        });
        if (existing == merged.end()) {
            merged.emplace(name, value);
        } else {
            existing->second += ", " + value;
        }
    }
    return merged;
}

}  // namespace

HTTPURLResponse::HTTPURLResponse(
    std::optional<URL> url, int statusCode,
    const std::vector<std::pair<std::string, std::string>>& headerFields)
    : HTTPURLResponse(std::move(url), statusCode, mergedFields(headerFields)) {}

HTTPURLResponse::HTTPURLResponse(std::optional<URL> url, int statusCode, StringDictionary fields)
    : URLResponse(std::move(url), mimeTypeOf(fields), expectedLength(fields)),
      statusCode_(statusCode),
      headers_(std::move(fields)) {}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(std::string_view name) const {
    if (const std::string* value = findField(headers_, name))
        return *value;
    return std::nullopt;
}

std::string HTTPURLResponse::debugDescription() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    std::string text = "<HTTPURLResponse: ";
    text += address;
    text += "> { URL: ";
    text += url() ? url()->absoluteString() : "(null)";
    text += " } { Status Code: " + std::to_string(statusCode_) + ", Headers {\n";
    for (const auto& [name, value] : headers_) {
        text += "    \"" + name + "\" = (\n        " + value + "\n    );\n";
    }
    text += "} }";
    return text;
}

std::string HTTPURLResponse::localizedStringForStatusCode(int statusCode) {
    switch (statusCode) {
        case 200:
            return "no error";
        case 201:
            return "created";
        case 204:
            return "no content";
        case 206:
            return "partial content";
        case 301:
            return "moved permanently";
        case 302:
            return "found";
        case 304:
            return "not modified";
        case 308:
            return "permanent redirect";
        case 400:
            return "bad request";
        case 401:
            return "unauthorized";
        case 403:
            return "forbidden";
        case 404:
            return "not found";
        case 416:
            return "requested range not satisfiable";
        case 500:
            return "internal server error";
        case 503:
            return "service unavailable";
        default:
            break;
    }
    if (statusCode >= 100 && statusCode < 200)
        return "informational";
    if (statusCode >= 200 && statusCode < 300)
        return "success";
    if (statusCode >= 300 && statusCode < 400)
        return "redirected";
    if (statusCode >= 400 && statusCode < 500)
        return "client error";
    if (statusCode >= 500 && statusCode < 600)
        return "server error";
    return "unknown";
}

}  // namespace pindle::platform
