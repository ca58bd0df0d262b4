// URLResponse: the metadata of a loaded resource (its URL, its declared length and type),
// known before the body arrives. Loads over HTTP produce the subclass HTTPURLResponse.
//
// Thread-safety: immutable once made; safe to share between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle::platform {

class URLResponse : public Object {
  public:
    static constexpr std::int64_t unknownLength = -1;

    URLResponse(std::optional<URL> url, std::optional<std::string> mimeType,
                std::int64_t expectedContentLength);

    // The URL the body came from, after redirects.
    const std::optional<URL>& url() const { return url_; }
    // The media type of the body without parameters ("text/html"), when declared.
    const std::optional<std::string>& mimeType() const { return mimeType_; }
    // The length of the body as it will be delivered, or unknownLength.
    std::int64_t expectedContentLength() const { return expectedContentLength_; }

  private:
    std::optional<URL> url_;
    std::optional<std::string> mimeType_;
    std::int64_t expectedContentLength_;
};

}  // namespace pindle::platform
