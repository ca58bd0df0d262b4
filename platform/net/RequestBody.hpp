// RequestBody: where an upload task's request body comes from: bytes in memory, or a byte
// range of a file read as the body is sent. A plain value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Data.hpp"

namespace pindle::platform {

struct RequestBody {
    std::shared_ptr<const Data> bytes;
    std::optional<std::string> filePath;
    std::int64_t fileOffset = 0;
    // The number of bytes to send from the file; nothing means "to its end".
    std::optional<std::int64_t> fileLength;
};

}  // namespace pindle::platform
