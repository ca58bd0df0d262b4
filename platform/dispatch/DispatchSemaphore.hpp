// DispatchSemaphore: a counting semaphore whose timed waits read the current clock.
//
// wait() takes one from the count, blocking while it is zero; signal() gives one back,
// handing it straight to the longest waiter if there is one. A wait with a deadline ends at
// that deadline on Clock::current(): with a VirtualClock installed, only when advance()
// passes it.
//
// Thread-safety: all operations are safe from any thread. Waits block the calling thread;
// do not wait on the main thread for work that needs the main queue.
#pragma once

#include <memory>

#include "platform/dispatch/DispatchTime.hpp"

namespace pindle::platform {

namespace detail {
class WaitList;
}

class DispatchSemaphore {
  public:
    // REQUIRES: value >= 0.
    explicit DispatchSemaphore(long value = 0);
    ~DispatchSemaphore();
    DispatchSemaphore(const DispatchSemaphore&) = delete;
    DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

    // Returns true when a waiting thread was woken.
    bool signal();
    void wait();
    // Returns false when `deadline` passed first (the count is then left untouched).
    bool wait(DispatchTime deadline);

  private:
    std::shared_ptr<detail::WaitList> waiters_;
    long value_;  // guarded by waiters_->mutex()
};

}  // namespace pindle::platform
