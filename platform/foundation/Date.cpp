#include "platform/foundation/Date.hpp"

#include "platform/dispatch/Clock.hpp"

namespace pindle::platform {

Date Date::now() {
    return Clock::current()->now();
}

TimeInterval Date::timeIntervalSinceNow() const {
    return timeIntervalSince(now());
}

}  // namespace pindle::platform
