// Data: a byte buffer, the platform's data object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pindle::platform {

using Data = std::vector<std::uint8_t>;
// Bytes handed on without copying: whoever holds them reads them, nobody changes them.
using SharedData = std::shared_ptr<const Data>;

inline Data dataFromString(std::string_view text) {
    return Data(text.begin(), text.end());
}
inline std::string stringFromData(const Data& data) {
    return std::string(data.begin(), data.end());
}

}  // namespace pindle::platform
