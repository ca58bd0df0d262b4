// DispatchGroup: counts outstanding work so a caller can wait for, or be told of, its end.
//
// enter() and leave() bracket each piece of work; when the count drops to zero every
// notify() block is sent to its executor and every waiter wakes. A notify() or wait() on an
// empty group completes at once. Timed waits read the current clock, like semaphores.
//
// Thread-safety: all operations are safe from any thread. notify() blocks run on the
// executor given with them, never on the thread that calls leave().
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchTime.hpp"
#include "platform/foundation/Executor.hpp"

namespace pindle::platform {

namespace detail {
class WaitList;
}

class DispatchGroup {
  public:
    static std::shared_ptr<DispatchGroup> create();
    DispatchGroup();
    ~DispatchGroup();
    DispatchGroup(const DispatchGroup&) = delete;
    DispatchGroup& operator=(const DispatchGroup&) = delete;

    void enter();
    // REQUIRES: matches an enter(); an unmatched leave() aborts the process.
    void leave();

    // Sends `work` to `executor` once the group is empty (at once if it is empty now).
    void notify(std::shared_ptr<Executor> executor, std::function<void()> work);

    void wait();
    // Returns false when `deadline` passed before the group became empty.
    bool wait(DispatchTime deadline);

  private:
    using Notification = std::pair<std::shared_ptr<Executor>, std::function<void()>>;

    std::shared_ptr<detail::WaitList> waiters_;
    long count_ = 0;                           // guarded by waiters_->mutex()
    std::vector<Notification> notifications_;  // guarded by waiters_->mutex()
};

using DispatchGroupPtr = std::shared_ptr<DispatchGroup>;

}  // namespace pindle::platform
