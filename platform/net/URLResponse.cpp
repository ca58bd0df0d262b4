#include "platform/net/URLResponse.hpp"

namespace pindle::platform {

URLResponse::URLResponse(std::optional<URL> url, std::optional<std::string> mimeType,
                         std::int64_t expectedContentLength)
    : url_(std::move(url)),
      mimeType_(std::move(mimeType)),
      expectedContentLength_(expectedContentLength) {}

}  // namespace pindle::platform
