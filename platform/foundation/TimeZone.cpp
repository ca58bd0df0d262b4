#include "platform/foundation/TimeZone.hpp"

#include <cmath>
#include <ctime>

namespace pindle::platform {

int TimeZone::secondsFromGMT(Date date) const {
    if (kind_ == Kind::fixed)
        return seconds_;
    const double seconds = std::floor(date.timeIntervalSince1970());
    // Beyond this the C library cannot break the time down anyway.
    constexpr double limit = 1e15;
    if (!std::isfinite(seconds) || std::fabs(seconds) > limit)
        return 0;
    const auto instant = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!::localtime_r(&instant, &parts))
        return 0;
    return static_cast<int>(parts.tm_gmtoff);
}

}  // namespace pindle::platform
