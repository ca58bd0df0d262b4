// HTTPResponseHead: the status line and header fields of an HTTP/1.1 response, read from
// the bytes a raw connection received (an upgrade answer, a proxy's answer to CONNECT).
//
// Thread-safety: a plain value type.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindle::platform {

class HTTPResponseHead {
  public:
    static constexpr std::string_view terminator = "\r\n\r\n";

    // The length of the head including its terminating empty line, when `bytes` hold a
    // complete one.
    static std::optional<std::size_t> completeLength(std::string_view bytes);
    // Parses a complete head; nothing when the status line is not "HTTP/1.x <3 digits>", a
    // field line has no colon, or a carriage return stands outside a line end.
    static std::optional<HTTPResponseHead> parse(std::string_view bytes);

    int statusCode() const { return statusCode_; }
    // The first field of that name, compared without regard to case; values are trimmed.
    std::optional<std::string> headerField(std::string_view name) const;
    const std::vector<std::pair<std::string, std::string>>& headerFields() const { return fields_; }

  private:
    int statusCode_ = 0;
    std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace pindle::platform
