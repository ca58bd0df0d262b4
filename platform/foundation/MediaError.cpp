#include "platform/foundation/MediaError.hpp"

namespace pindle::platform::MediaError {

Error make(std::int64_t code, std::string description) {
    return Error(domain, code,
                 Dictionary{{Error::localizedDescriptionKey, std::move(description)}});
}

}  // namespace pindle::platform::MediaError
