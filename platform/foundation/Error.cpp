#include "platform/foundation/Error.hpp"

namespace pindle::platform {

Error::Error(std::string domain, std::int64_t code, Dictionary userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

std::string Error::localizedDescription() const {
    auto text = userInfo_.find(localizedDescriptionKey);
    if (text != userInfo_.end()) {
        if (const std::string* s = text->second.asString())
            return *s;
    }
    return "The operation couldn't be completed. (" + domain_ + " error " + std::to_string(code_) +
           ".)";
}

std::string Error::description() const {
    return "Error Domain=" + domain_ + " Code=" + std::to_string(code_) +
           " UserInfo=" + Value(userInfo_).description();
}

bool Error::operator==(const Error& other) const {
    return domain_ == other.domain_ && code_ == other.code_ && userInfo_ == other.userInfo_;
}

Error makeURLError(std::int64_t code, std::string description) {
    Dictionary info;
    if (!description.empty())
        info[Error::localizedDescriptionKey] = std::move(description);
    return Error(URLError::domain, code, std::move(info));
}

}  // namespace pindle::platform
