// HTTPURLResponse: the status line and header fields of an HTTP reply.
//
// Header fields keep the names as the server sent them; lookups by name ignore case. A field
// the server sent more than once appears once, its values joined by ", ".
//
// Thread-safety: immutable once made; safe to share between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Value.hpp"
#include "platform/net/URLResponse.hpp"

namespace pindle::platform {

class HTTPURLResponse : public URLResponse {
  public:
    // `headerFields` in the order received: (name, value); repeated names are merged.
    HTTPURLResponse(std::optional<URL> url, int statusCode,
                    const std::vector<std::pair<std::string, std::string>>& headerFields);

    int statusCode() const { return statusCode_; }

    // Every header field by the name as received.
    const StringDictionary& allHeaderFields() const { return headers_; }
    // The value of the field `name` in any case, or nothing.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;

    // A multi-line text for logs naming the URL, the status code and every header field.
    std::string debugDescription() const;
    std::string description() const override { return debugDescription(); }

    // A short English phrase for a status code ("not found" for 404).
    static std::string localizedStringForStatusCode(int statusCode);

  private:
    HTTPURLResponse(std::optional<URL> url, int statusCode, StringDictionary fields);

    int statusCode_;
    StringDictionary headers_;
};

}  // namespace pindle::platform
