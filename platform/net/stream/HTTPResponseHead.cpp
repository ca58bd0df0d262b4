#include "platform/net/stream/HTTPResponseHead.hpp"

#include <strings.h>

#include "platform/net/private/HTTPFieldText.hpp"

namespace pindle::platform {

namespace {
using http_field_text::trimmed;
}  // namespace

std::optional<std::size_t> HTTPResponseHead::completeLength(std::string_view bytes) {
    auto end = bytes.find(terminator);
    if (end == std::string_view::npos)
        return std::nullopt;
    return end + terminator.size();
}

std::optional<HTTPResponseHead> HTTPResponseHead::parse(std::string_view bytes) {
    auto length = completeLength(bytes);
    if (!length)
        return std::nullopt;
    std::string_view head = bytes.substr(0, *length - 2);
    // A carriage return belongs only in a line end; a bare one is a malformed head.
    for (std::size_t i = head.find('\r'); i != std::string_view::npos; i = head.find('\r', i + 1)) {
        if (i + 1 >= head.size() || head[i + 1] != '\n')
            return std::nullopt;
    }
    auto lineEnd = head.find("\r\n");
    std::string_view statusLine = head.substr(0, lineEnd);
    // "HTTP/1.1 101 Switching Protocols"
    if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." || statusLine[8] != ' ')
        return std::nullopt;
    int code = 0;
    for (std::size_t i = 9; i < 12; ++i) {
        char digit = statusLine[i];
        if (digit < '0' || digit > '9')
            return std::nullopt;
        code = code * 10 + (digit - '0');
    }
    if (statusLine.size() > 12 && statusLine[12] != ' ')
        return std::nullopt;

    HTTPResponseHead result;
    result.statusCode_ = code;
    std::size_t cursor = lineEnd + 2;
    while (cursor < head.size()) {
        auto next = head.find("\r\n", cursor);
        std::string_view line = head.substr(cursor, next - cursor);
        cursor = next + 2;
        if (line.empty())
            break;
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return std::nullopt;
        result.fields_.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                    std::string(trimmed(line.substr(colon + 1))));
    }
    return result;
}

std::optional<std::string> HTTPResponseHead::headerField(std::string_view name) const {
    for (const auto& [field, value] : fields_) {
        if (field.size() == name.size() &&
            ::strncasecmp(field.data(), name.data(), name.size()) == 0)
            return value;
    }
    return std::nullopt;
}

}  // namespace pindle::platform
