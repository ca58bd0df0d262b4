#include "platform/dispatch/PreciseWakeUps.hpp"

#include <sys/prctl.h>

namespace pindle::platform {

namespace {

constexpr unsigned long leastSlackNanoseconds = 1;

}  // namespace

PreciseWakeUps::PreciseWakeUps() {
    const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (slack < 0)
        return;
    previous_ = slack;
    ::prctl(PR_SET_TIMERSLACK, leastSlackNanoseconds, 0, 0, 0);
}

PreciseWakeUps::~PreciseWakeUps() {
    if (previous_ > 0)
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_), 0, 0, 0);
}

}  // namespace pindle::platform
