#include "platform/foundation/UUID.hpp"

#include <uuid/uuid.h>

#include <cstring>

namespace pindle::platform {

namespace {

constexpr std::size_t uuidTextLength = 36;

}  // namespace

UUID UUID::random() {
    uuid_t raw;
    uuid_generate_random(raw);
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return UUID(bytes);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != uuidTextLength)
        return std::nullopt;
    // uuid_parse wants a NUL-terminated buffer and is itself strict about the layout.
    char buffer[uuidTextLength + 1];
    std::memcpy(buffer, text.data(), uuidTextLength);
    buffer[uuidTextLength] = '\0';
    uuid_t raw;
    if (uuid_parse(buffer, raw) != 0)
        return std::nullopt;
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    char buffer[uuidTextLength + 1];
    uuid_unparse_upper(bytes_.data(), buffer);
    return std::string(buffer, uuidTextLength);
}

}  // namespace pindle::platform
