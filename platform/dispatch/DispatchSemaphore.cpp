#include "platform/dispatch/DispatchSemaphore.hpp"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/dispatch/private/WaitList.hpp"

namespace pindle::platform {

DispatchSemaphore::DispatchSemaphore(long value)
    : waiters_(std::make_shared<detail::WaitList>()), value_(value) {
    if (value < 0) {
        std::fprintf(stderr, "DispatchSemaphore: negative initial value %ld\n", value);
        std::abort();
    }
}

DispatchSemaphore::~DispatchSemaphore() = default;

bool DispatchSemaphore::signal() {
    std::unique_lock lock(waiters_->mutex());
    if (waiters_->releaseOne(lock)) {
        return true;
    }
    ++value_;
    return false;
}

void DispatchSemaphore::wait() {
    wait(DispatchTime::distantFuture());
}

bool DispatchSemaphore::wait(DispatchTime deadline) {
    std::unique_lock lock(waiters_->mutex());
    if (value_ > 0) {
        --value_;
        return true;
    }
    return waiters_->wait(lock, deadline);
}

}  // namespace pindle::platform
