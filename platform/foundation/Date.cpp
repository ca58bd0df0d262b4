#include "platform/foundation/Date.hpp"

namespace pindle::platform {

TimeInterval Date::timeIntervalSinceNow() const {
    return timeIntervalSince(now());
}

}  // namespace pindle::platform
