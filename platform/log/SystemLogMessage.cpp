#include "platform/log/SystemLogMessage.hpp"

namespace pindle::platform {

bool SystemLogMessage::set(const std::string& key, std::string value) {
    if (key.empty()) {
        return false;
    }
    values_[key] = std::move(value);
    return true;
}

std::optional<std::string> SystemLogMessage::get(const std::string& key) const {
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace pindle::platform
